import QtQuick 2.15
import QtQuick.Controls 2.15
import Zelko 1.0
import "Protocol.js" as Protocol
import "Theme.js" as Theme

// One package in full, asked for with a details query.
Rectangle {
    id: detailsPage
    color: Theme.page

    property string name
    // "loading", "shown" or "error"
    property string status: "loading"
    property string message: ""
    property var details: ({})
    signal back()

    property int _key: 0
    property int _failedKey: 0

    Request {
        id: request
        onError: {
            if (key !== detailsPage._key)
                return
            detailsPage._key = 0
            detailsPage._failedKey = errCode === Request.Error ? key : 0
            detailsPage._fail(Protocol.transportMessage(errCode))
        }
        onResponse: {
            if (key === detailsPage._failedKey) {
                detailsPage._failedKey = 0
                if (error !== 0)
                    detailsPage._fail(Protocol.serviceMessage(error))
                return
            }
            if (key !== detailsPage._key)
                return
            detailsPage._key = 0
            var answer = Protocol.parseAnswer(json, Protocol.Details)
            if (error !== 0)
                detailsPage._fail(Protocol.serviceMessage(error))
            else if (!answer)
                detailsPage._fail(Protocol.transportMessage(2))
            else {
                detailsPage.details = answer
                detailsPage.status = "shown"
            }
        }
    }

    function load() {
        status = "loading"
        _key = request.request(Protocol.detailsQuery(name, function (text) { return request.getEncryptString(text) }))
    }

    function _fail(text) {
        message = text
        status = "error"
    }

    Component.onCompleted: load()
    Component.onDestruction: if (_key !== 0) request.cancel(_key)

    PageHeader {
        id: header
        title: detailsPage.name
        onBack: detailsPage.back()
    }

    BusyIndicator {
        anchors.centerIn: parent
        running: detailsPage.status === "loading"
        visible: running
    }

    Rectangle {
        objectName: "statusBanner"
        anchors.top: header.bottom
        width: parent.width
        height: 56
        visible: detailsPage.status === "error"
        color: Theme.errorBack
        Text {
            anchors.fill: parent
            anchors.margins: 12
            verticalAlignment: Text.AlignVCenter
            text: detailsPage.message
            wrapMode: Text.WordWrap
            font.pixelSize: 15
            color: Theme.errorText
        }
    }

    Flickable {
        anchors.top: header.bottom
        anchors.bottom: parent.bottom
        width: parent.width
        contentHeight: body.height + 32
        clip: true
        visible: detailsPage.status === "shown"

        Column {
            id: body
            x: 16
            y: 16
            width: parent.width - 32
            spacing: 8

            Row {
                spacing: 14
                Image {
                    width: 48
                    height: 48
                    smooth: false
                    source: detailsPage.details.res ? "image://res/" + detailsPage.details.res : ""
                }
                Column {
                    anchors.verticalCenter: parent.verticalCenter
                    Text { text: detailsPage.details.name || ""; textFormat: Text.PlainText; font.pixelSize: 22; font.bold: true; color: Theme.text }
                    Text { text: detailsPage.details.version || ""; textFormat: Text.PlainText; font.pixelSize: 15; color: Theme.muted }
                }
            }
            Text {
                width: parent.width
                text: detailsPage.details.summary || ""
                textFormat: Text.PlainText
                wrapMode: Text.WordWrap
                font.pixelSize: 17
                color: Theme.text
            }
            Repeater {
                model: [
                    { label: qsTr("Section"), value: detailsPage.details.section },
                    { label: qsTr("Architecture"), value: detailsPage.details.arch },
                    { label: qsTr("Installed size"),
                      value: detailsPage.details.installedSize ? detailsPage.details.installedSize + " KiB" : "" },
                    { label: qsTr("Maintainer"), value: detailsPage.details.maintainer },
                    { label: qsTr("Homepage"), value: detailsPage.details.homepage },
                    { label: qsTr("Depends on"), value: detailsPage.details.depends }
                ]
                delegate: Text {
                    width: body.width
                    visible: !!modelData.value
                    text: "<b>" + modelData.label + ":</b> " + String(modelData.value || "").replace(/&/g, "&amp;").replace(/</g, "&lt;")
                    textFormat: Text.StyledText
                    wrapMode: Text.Wrap
                    font.pixelSize: 14
                    color: Theme.text
                }
            }
            Text {
                width: parent.width
                text: detailsPage.details.description || ""
                textFormat: Text.PlainText
                wrapMode: Text.WordWrap
                font.pixelSize: 15
                color: Theme.text
            }
        }
    }
}
