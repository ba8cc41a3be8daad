import QtQuick 2.15
import Zelko 1.0

// First page: the client's identity as the back end reports it.
Rectangle {
    id: page
    width: 480
    height: 800
    color: "#f4f4f4"

    Settings { id: settings }

    Column {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 12

        Text { text: "Zelko"; font.pixelSize: 36; font.bold: true; color: "#1a4f8b" }
        Text { text: "pid: " + settings.pid(); font.pixelSize: 20 }
        Text { text: "cid: " + settings.cid(); font.pixelSize: 20 }
        Text { text: "vid: " + settings.vid(); font.pixelSize: 20 }
        Text { text: "uid: " + settings.uid(); font.pixelSize: 20 }
        Text {
            width: parent.width
            text: "info: " + settings.info()
            wrapMode: Text.WrapAnywhere
            font.pixelSize: 16
        }

        Rectangle {
            width: 160; height: 56; radius: 8
            color: quitArea.pressed ? "#0d2f57" : "#1a4f8b"
            Text { anchors.centerIn: parent; text: "Quit"; color: "white"; font.pixelSize: 22 }
            MouseArea { id: quitArea; anchors.fill: parent; onClicked: Qt.quit() }
        }
    }
}
