import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15
import Zelko 1.0
import "Config.js" as Config
import "Protocol.js" as Protocol

// The client's identity and the device's as the back end reports them, in rows a person
// reads, and a feedback form posted over HTTPS.
Rectangle {
    id: aboutPage
    color: Theme.page

    property string feedbackUrl: Config.feedbackUrl
    // "idle", "sending", "sent" or "error"
    property string feedbackState: "idle"
    property string feedbackMessage: ""
    // What is written in the feedback box, kept by whoever opens the page, so that it
    // outlives the page.
    property string draft: ""
    signal back()

    property int _key: 0
    property string _sent: ""

    Settings { id: settings }

    Request {
        id: request
        onSslResponse: function (json, key) { aboutPage._onAnswer(json, key) }
        onError: function (errCode, key) { aboutPage._onError(errCode, key) }
    }

    function sendFeedback(text) {
        if (_key !== 0 || text.trim() === "")
            return
        _sent = text
        feedbackState = "sending"
        feedbackMessage = qsTr("Sending…")
        request.timeout = Config.requestTimeout
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
            // The client's own words, in the user's language: the service's are English.
            feedbackMessage = qsTr("Thank you for your feedback.")
            feedbackField.text = ""
        } else {
            feedbackState = "error"
            feedbackMessage = answer && answer.error ? String(answer.error)
                                                     : qsTr("The feedback service sent an answer that could not be read.")
        }
        _announce()
    }

    // The same outcome again (a Retry that fails alike) is said again: a screen reader
    // speaks as the focus moves.
    function _announce() {
        if (feedbackStatus.activeFocus)
            aboutPage.forceActiveFocus()
        feedbackStatus.forceActiveFocus()
    }

    // A control that takes the focus is scrolled into view.
    function _reveal(item) {
        if (!item || !flick.contentItem || item === flick.contentItem)
            return
        for (var p = item.parent; p && p !== flick.contentItem; p = p.parent) {}
        if (!p)
            return
        var at = item.mapToItem(flick.contentItem, 0, 0)
        if (at.y < flick.contentY)
            flick.contentY = Math.max(0, at.y - 8)
        else if (at.y + item.height > flick.contentY + flick.height)
            flick.contentY = Math.min(flick.contentHeight - flick.height, at.y + item.height - flick.height + 8)
    }
    Connections {
        target: aboutPage.Window.window
        function onActiveFocusItemChanged() { aboutPage._reveal(aboutPage.Window.window.activeFocusItem) }
    }

    function _onError(errCode, key) {
        if (key !== _key)
            return
        _key = 0
        feedbackState = "error"
        feedbackMessage = qsTr("Feedback not sent: %1").arg(Protocol.transportMessage(errCode))
        _announce()
    }

    // The fields of info() ({imei:"…",productName:"…",…}: not JSON), by name.
    function _device() {
        var fields = {}
        var info = settings.info() // asks the device: once
        var pattern = /(\w+):"((?:[^"\\]|\\.)*)"/g
        for (var m = pattern.exec(info); m !== null; m = pattern.exec(info))
            fields[m[1]] = m[2]
        return fields
    }

    PageHeader {
        id: header
        title: qsTr("About Zelko")
        onBack: aboutPage.back()
    }

    Flickable {
        id: flick
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
                readonly property var device: aboutPage._device()
                model: [
                    { key: "heading", label: qsTr("This client") },
                    { key: "pid", label: qsTr("Product"), value: settings.pid() },
                    { key: "cid", label: qsTr("Channel"), value: settings.cid() },
                    { key: "vid", label: qsTr("Version"), value: settings.vid() },
                    { key: "heading", label: qsTr("This device") },
                    { key: "productName", label: qsTr("System"), value: device.productName || "" },
                    { key: "model", label: qsTr("Model"), value: device.model || "" },
                    { key: "osVersion", label: qsTr("System version"), value: device.osVersion || "" },
                    { key: "firmwareVersion", label: qsTr("Kernel"), value: device.firmwareVersion || "" },
                    { key: "uid", label: qsTr("IMEI"), value: settings.uid() }
                ]
                // A heading, or a label with its value under it; the two read as one. Text, not
                // Label: the toolkit's Label gives itself a role and name of its own once a
                // screen reader is about.
                delegate: Column {
                    width: content.width
                    spacing: 2
                    Text {
                        width: parent.width
                        text: modelData.label
                        font.pixelSize: modelData.key === "heading" ? 20 : 14
                        font.bold: modelData.key === "heading"
                        color: modelData.key === "heading" ? Theme.text : Theme.muted
                        Accessible.role: modelData.key === "heading" ? Accessible.Heading : Accessible.StaticText
                        Accessible.name: modelData.key === "heading" ? text : text + ": " + valueText.text
                    }
                    Label {
                        id: valueText
                        objectName: modelData.key + "Text"
                        width: parent.width
                        visible: modelData.key !== "heading"
                        text: modelData.value ? modelData.value : qsTr("(not reported)")
                        textFormat: Text.PlainText
                        wrapMode: Text.WrapAnywhere
                        font.pixelSize: 17
                        color: Theme.text
                        Accessible.ignored: true
                    }
                }
            }

            Rectangle { width: parent.width; height: 1; color: Theme.line }

            Text {
                text: qsTr("Feedback")
                font.pixelSize: 20
                font.bold: true
                color: Theme.text
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            TextArea {
                id: feedbackField
                objectName: "feedbackField"
                width: parent.width
                height: 120
                wrapMode: TextEdit.Wrap
                placeholderText: qsTr("Tell us what you think")
                placeholderTextColor: Theme.muted
                font.pixelSize: 16
                Component.onCompleted: text = aboutPage.draft
                onTextChanged: aboutPage.draft = text
                // Escape leaves the box, not the page: what is written stays in view.
                Keys.onShortcutOverride: function (event) { event.accepted = event.key === Qt.Key_Escape }
                Keys.onEscapePressed: sendButton.forceActiveFocus()
                Accessible.name: qsTr("Feedback")
                background: Rectangle { color: Theme.card; border.color: Theme.line; radius: 4 }
            }
            Row {
                spacing: 12
                // Never disabled: Qt's screen-reader bridge would still call it enabled. With
                // nothing to send it says so; after a failure it sends the same again.
                TouchButton {
                    id: sendButton
                    objectName: "sendButton"
                    text: aboutPage.feedbackState === "error" ? qsTr("Retry") : qsTr("Send")
                    onClicked: {
                        if (aboutPage.feedbackState === "sending")
                            return
                        var text = feedbackField.text.trim() !== "" ? feedbackField.text
                                 : aboutPage.feedbackState === "error" ? aboutPage._sent : ""
                        if (text !== "") {
                            aboutPage.sendFeedback(text)
                        } else {
                            aboutPage.feedbackMessage = qsTr("Write your feedback first.")
                            feedbackField.forceActiveFocus()
                        }
                    }
                }
                Label {
                    id: feedbackStatus
                    objectName: "feedbackStatus"
                    anchors.verticalCenter: parent.verticalCenter
                    width: content.width - sendButton.width - parent.spacing
                    text: aboutPage.feedbackMessage
                    textFormat: Text.PlainText
                    wrapMode: Text.WordWrap
                    font.pixelSize: 15
                    color: aboutPage.feedbackState === "error" ? Theme.errorText : Theme.text
                    Accessible.role: aboutPage.feedbackState === "error" ? Accessible.AlertMessage : Accessible.StaticText
                    // Nothing to say, nothing to stop at.
                    Accessible.focusable: text !== ""
                }
            }
        }
    }
}
