import QtQuick 2.15
import "Theme.js" as Theme

// One package in the results list: thumbnail from the answer's resources, name,
// version and summary.
Rectangle {
    id: row
    property string name
    property string version
    property string summary
    property string res
    readonly property alias thumbnail: thumb
    signal activated()

    height: 76
    color: area.pressed ? "#e3ebf5" : Theme.card

    Image {
        id: thumb
        objectName: "thumbnail"
        x: 14
        anchors.verticalCenter: parent.verticalCenter
        width: 48
        height: 48
        source: row.res !== "" ? "image://res/" + row.res : ""
        smooth: false
    }

    Column {
        anchors.left: thumb.right
        anchors.leftMargin: 14
        anchors.right: parent.right
        anchors.rightMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        spacing: 4

        Row {
            width: parent.width
            spacing: 8
            Text {
                id: nameText
                text: row.name
                textFormat: Text.PlainText
                font.pixelSize: 18
                font.bold: true
                color: Theme.text
                elide: Text.ElideRight
                width: Math.min(implicitWidth, parent.width - versionText.width - 8)
            }
            Text {
                id: versionText
                anchors.baseline: nameText.baseline
                text: row.version
                textFormat: Text.PlainText
                font.pixelSize: 13
                color: Theme.muted
                width: Math.min(implicitWidth, parent.width / 2)
                elide: Text.ElideRight
            }
        }
        Text {
            width: parent.width
            text: row.summary
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: Theme.muted
            elide: Text.ElideRight
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.line
    }

    MouseArea {
        id: area
        anchors.fill: parent
        onClicked: row.activated()
    }
}
