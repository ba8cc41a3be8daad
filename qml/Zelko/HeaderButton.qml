import QtQuick 2.15

// A text button for the blue title bars, where the toolkit's buttons would be dark on dark.
Rectangle {
    id: button
    property alias text: label.text
    signal clicked()

    height: parent ? parent.height : 56
    width: Math.max(56, label.implicitWidth + 32)
    color: area.pressed ? Theme.brandDark : "transparent"
    border.width: activeFocus ? 2 : 0
    border.color: "white"

    activeFocusOnTab: true
    Keys.onReturnPressed: button.clicked()
    Keys.onEnterPressed: button.clicked()
    Keys.onSpacePressed: button.clicked()

    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: button.clicked()

    Text {
        id: label
        anchors.centerIn: parent
        font.pixelSize: 17
        color: "white"
    }
    MouseArea {
        id: area
        anchors.fill: parent
        onClicked: button.clicked()
    }
}
