import QtQuick 2.15
import QtQuick.Controls 2.15
import Zelko 1.0
import "Protocol.js" as Protocol

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

    RequestCall {
        id: call
        onSucceeded: function (type, json) {
            var answer = Protocol.parseAnswer(json, Protocol.Details)
            if (answer) {
                detailsPage.details = answer
                detailsPage.status = "shown"
                announcer.restart()
            } else {
                detailsPage._fail(Request.Error, false)
            }
        }
        onFailed: function (code, fromService) { detailsPage._fail(code, fromService) }
    }

    function load() {
        status = "loading"
        call.start(Protocol.detailsQuery(name, function (text) { return call.request.getEncryptString(text) }))
    }

    function _fail(code, fromService) {
        message = Protocol.failureMessage(code, fromService)
        status = "error"
        announcer.restart()
    }

    Component.onCompleted: load()

    // What arrived takes the focus once it is laid out, so that a screen reader says it.
    Timer {
        id: announcer
        interval: 0
        onTriggered: {
            var item = detailsPage.status === "shown" ? nameText : bannerText
            // The same failure again (after Retry) is said again: a reader speaks as the focus moves.
            if (item.activeFocus)
                detailsPage.forceActiveFocus()
            item.forceActiveFocus()
        }
    }

    PageHeader {
        id: header
        title: detailsPage.name
        onBack: detailsPage.back()
    }

    BusyIndicator {
        anchors.centerIn: parent
        running: detailsPage.status === "loading"
        visible: running
        Accessible.role: Accessible.Animation
        Accessible.name: qsTr("Loading the package")
    }

    Rectangle {
        objectName: "statusBanner"
        anchors.top: header.bottom
        width: parent.width
        height: Math.max(56, bannerText.implicitHeight + 24)
        visible: detailsPage.status === "error"
        color: Theme.errorBack
        Label {
            id: bannerText
            objectName: "statusText"
            anchors.left: parent.left
            anchors.right: retryButton.left
            anchors.margins: 12
            anchors.verticalCenter: parent.verticalCenter
            text: detailsPage.message
            wrapMode: Text.WordWrap
            font.pixelSize: 15
            color: Theme.errorText
            Accessible.role: Accessible.AlertMessage
            Accessible.focusable: true
            KeyNavigation.tab: retryButton
        }
        TouchButton {
            id: retryButton
            objectName: "retryButton"
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Retry")
            onClicked: detailsPage.load()
        }
    }

    Flickable {
        anchors.top: header.bottom
        anchors.bottom: parent.bottom
        width: parent.width
        contentHeight: body.height + 32
        clip: true
        visible: detailsPage.status === "shown"
        Accessible.role: Accessible.Pane
        Accessible.name: detailsPage.name

        Column {
            id: body
            x: 16
            y: 16
            width: parent.width - 32
            spacing: 8

            Row {
                width: parent.width
                spacing: 14
                Image {
                    width: 48
                    height: 48
                    smooth: false
                    source: detailsPage.details.res ? "image://res/" + detailsPage.details.res : ""
                }
                Column {
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width - 48 - parent.spacing
                    // Text, not Label: the toolkit's Label makes itself static text once a
                    // screen reader is about, a heading no more.
                    Text {
                        id: nameText
                        objectName: "detailsName"
                        width: parent.width
                        text: detailsPage.details.name || ""
                        textFormat: Text.PlainText
                        wrapMode: Text.WrapAnywhere
                        font.pixelSize: 22
                        font.bold: true
                        color: Theme.text
                        Accessible.role: Accessible.Heading
                        Accessible.name: text
                        Accessible.focusable: true
                    }
                    Label {
                        width: parent.width
                        text: detailsPage.details.version || ""
                        textFormat: Text.PlainText
                        wrapMode: Text.WrapAnywhere
                        font.pixelSize: 15
                        color: Theme.muted
                    }
                }
            }
            Label {
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
                      value: detailsPage.details.installedSize ? qsTr("%1 KiB").arg(detailsPage.details.installedSize) : "" },
                    { label: qsTr("Maintainer"), value: detailsPage.details.maintainer },
                    { label: qsTr("Homepage"), value: detailsPage.details.homepage },
                    { label: qsTr("Depends on"), value: detailsPage.details.depends }
                ]
                delegate: Label {
                    width: body.width
                    visible: !!modelData.value
                    text: qsTr("<b>%1:</b> %2").arg(modelData.label)
                              .arg(String(modelData.value || "").replace(/&/g, "&amp;").replace(/</g, "&lt;"))
                    textFormat: Text.StyledText
                    Accessible.name: qsTr("%1: %2").arg(modelData.label).arg(String(modelData.value || ""))
                    wrapMode: Text.Wrap
                    font.pixelSize: 14
                    color: Theme.text
                }
            }
            Label {
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
