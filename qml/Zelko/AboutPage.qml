import QtQuick 2.15
import QtQuick.Controls 2.15
import Zelko 1.0
import "Config.js" as Config
import "Protocol.js" as Protocol
import "Theme.js" as Theme

// The client's identity as the back end reports it, and a feedback form posted
// over HTTPS.
Rectangle {
    id: aboutPage
    color: Theme.page

    property string feedbackUrl: Config.feedbackUrl
    // "idle", "sending", "sent" or "error"
    property string feedbackState: "idle"
    property string feedbackMessage: ""
    signal back()

    property int _key: 0

    Settings { id: settings }

    Request {
        id: request
        onSslResponse: function (json, key) { aboutPage._onAnswer(json, key) }
        onError: function (errCode, key) { aboutPage._onError(errCode, key) }
    }

    function sendFeedback(text) {
        if (_key !== 0 || text.trim() === "")
            return
        feedbackState = "sending"
        feedbackMessage = qsTr("Sending…")
        _key = request.requestHttps(JSON.stringify({ text: text, pid: settings.pid(), vid: settings.vid() }),
                                    feedbackUrl)
    }

    function _onAnswer(json, key) {
        if (key !== _key)
            return
        _key = 0
        var answer = null
        try { answer = JSON.parse(json) } catch (e) {}
        if (answer && answer.ok === true) {
            feedbackState = "sent"
            feedbackMessage = String(answer.message)
            feedbackField.text = ""
        } else {
            feedbackState = "error"
            feedbackMessage = answer && answer.error ? String(answer.error)
                                                     : qsTr("The feedback service sent an answer that could not be read.")
        }
    }

    function _onError(errCode, key) {
        if (key !== _key)
            return
        _key = 0
        feedbackState = "error"
        feedbackMessage = qsTr("Feedback not sent: %1").arg(Protocol.transportMessage(errCode))
    }

    PageHeader {
        id: header
        title: qsTr("About Zelko")
        onBack: aboutPage.back()
    }

    Flickable {
        anchors.top: header.bottom
        anchors.bottom: parent.bottom
        width: parent.width
        contentHeight: content.height + 32
        clip: true
        Accessible.role: Accessible.Pane
        Accessible.name: header.title

        Column {
            id: content
            x: 16
            y: 16
            width: parent.width - 32
            spacing: 10

            Repeater {
                model: [
                    { key: "pid", label: qsTr("pid"), value: settings.pid() },
                    { key: "cid", label: qsTr("cid"), value: settings.cid() },
                    { key: "vid", label: qsTr("vid"), value: settings.vid() },
                    { key: "uid", label: qsTr("uid"), value: settings.uid() }
                ]
                delegate: Row {
                    width: content.width
                    spacing: 12
                    Text { id: keyText; width: 48; text: modelData.label; font.pixelSize: 18; color: Theme.muted }
                    Text {
                        objectName: modelData.key + "Text"
                        width: parent.width - keyText.width - parent.spacing
                        text: modelData.value !== "" ? modelData.value : qsTr("(not reported)")
                        textFormat: Text.PlainText
                        wrapMode: Text.WrapAnywhere
                        font.pixelSize: 18
                        color: Theme.text
                    }
                }
            }

            Text { text: qsTr("Device"); font.pixelSize: 18; color: Theme.muted }
            Text {
                objectName: "infoText"
                width: parent.width
                text: settings.info()
                textFormat: Text.PlainText
                wrapMode: Text.WrapAnywhere
                font.pixelSize: 15
                font.family: "monospace"
                color: Theme.text
            }

            Rectangle { width: parent.width; height: 1; color: Theme.line }

            Text { text: qsTr("Feedback"); font.pixelSize: 20; font.bold: true; color: Theme.text }
            TextArea {
                id: feedbackField
                objectName: "feedbackField"
                width: parent.width
                height: 120
                wrapMode: TextEdit.Wrap
                placeholderText: qsTr("Tell us what you think")
                font.pixelSize: 16
                Accessible.name: qsTr("Feedback")
                background: Rectangle { color: Theme.card; border.color: Theme.line; radius: 4 }
            }
            Row {
                spacing: 12
                TouchButton {
                    id: sendButton
                    objectName: "sendButton"
                    text: qsTr("Send")
                    enabled: aboutPage.feedbackState !== "sending" && feedbackField.text.trim() !== ""
                    onClicked: aboutPage.sendFeedback(feedbackField.text)
                }
                Text {
                    objectName: "feedbackStatus"
                    anchors.verticalCenter: parent.verticalCenter
                    width: content.width - sendButton.width - parent.spacing
                    text: aboutPage.feedbackMessage
                    textFormat: Text.PlainText
                    wrapMode: Text.WordWrap
                    font.pixelSize: 15
                    color: aboutPage.feedbackState === "error" ? Theme.errorText : Theme.text
                }
            }

            Rectangle { width: parent.width; height: 1; color: Theme.line }

            TouchButton {
                objectName: "quitButton"
                text: qsTr("Quit")
                onClicked: Qt.quit()
            }
        }
    }
}
