import QtQuick 2.15

// One package in the results list: thumbnail from the answer's resources, name,
// version and summary. The name is never cut: it wraps where the row is narrow, and the
// version moves under it when both do not fit on one line.
Rectangle {
    id: row
    property string name
    property string version
    property string summary
    property string res
    readonly property alias thumbnail: thumb
    // The row speaks for its texts: name, version, summary.
    readonly property string spokenText: (row.version !== "" ? row.name + " " + row.version : row.name)
                                         + (row.summary !== "" ? ", " + row.summary : "")
    signal activated()

    height: Math.max(76, column.implicitHeight + 20)
    color: area.pressed ? Theme.chip : Theme.card
    border.width: activeFocus ? 2 : 0
    border.color: Theme.link

    // A keyboard opens it as a tap does.
    activeFocusOnTab: true
    Keys.onReturnPressed: row.activated()
    Keys.onEnterPressed: row.activated()
    Keys.onSpacePressed: row.activated()

    Accessible.role: Accessible.ListItem
    Accessible.name: spokenText
    Accessible.onPressAction: row.activated()

    // A thumbnail the cache no longer holds (after more than a hundred newer ones) shows
    // the name's first letter.
    Rectangle {
        anchors.fill: thumb
        visible: thumb.status !== Image.Ready
        radius: 8
        color: Theme.chip
        Text {
            anchors.centerIn: parent
            text: row.name.charAt(0).toUpperCase()
            font.pixelSize: 24
            font.bold: true
            color: Theme.link
            Accessible.ignored: true
        }
    }

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
        id: column
        anchors.left: thumb.right
        anchors.leftMargin: 14
        anchors.right: parent.right
        anchors.rightMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        spacing: 4

        Flow {
            width: parent.width
            spacing: 8
            Text {
                id: nameText
                objectName: "resultName"
                width: Math.min(implicitWidth, parent.width)
                text: row.name
                textFormat: Text.PlainText
                font.pixelSize: 18
                font.bold: true
                color: Theme.text
                // Package names have no spaces to break at.
                wrapMode: Text.WrapAnywhere
                Accessible.ignored: true
            }
            Text {
                id: versionText
                // On the name's baseline when beside it.
                topPadding: nameText.lineCount === 1 ? nameText.baselineOffset - versionMetrics.ascent : 0
                width: Math.min(implicitWidth, parent.width)
                text: row.version
                textFormat: Text.PlainText
                font.pixelSize: 13
                color: Theme.muted
                elide: Text.ElideRight
                Accessible.ignored: true
            }
        }
        FontMetrics { id: versionMetrics; font: versionText.font }
        Text {
            width: parent.width
            text: row.summary
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: Theme.muted
            elide: Text.ElideRight
            Accessible.ignored: true
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
