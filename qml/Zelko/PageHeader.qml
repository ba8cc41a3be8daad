import QtQuick 2.15
import QtQuick.Controls 2.15

// Title bar of the pages pushed over the search page.
Rectangle {
    id: bar
    property string title
    signal back()

    width: parent ? parent.width : 480
    height: 56
    color: Theme.brand

    HeaderButton {
        id: backButton
        objectName: "backButton"
        anchors.left: parent.left
        text: qsTr("‹ Back")
        onClicked: bar.back()
    }
    // Text, not Label: the toolkit's Label makes itself static text once a screen reader is
    // about, a heading no more.
    Text {
        objectName: "pageTitle"
        anchors.left: backButton.right
        anchors.leftMargin: 8
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        text: bar.title
        textFormat: Text.PlainText
        elide: Text.ElideRight
        font.pixelSize: 22
        font.bold: true
        color: "white"
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }
}
