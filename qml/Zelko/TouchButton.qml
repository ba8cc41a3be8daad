import QtQuick 2.15
import QtQuick.Controls 2.15

// The toolkit's button sized for a fingertip: the style's own is 40 px high, and its
// label is set in points, so that its size followed each screen's reported density
// while every other text of the client is set in pixels.
Button {
    implicitHeight: 48
    implicitWidth: Math.max(64, implicitContentWidth + leftPadding + rightPadding)
    font.pixelSize: 16
    // In the Tab order whatever the platform's habit, and Enter presses it as Space does.
    focusPolicy: Qt.StrongFocus
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
    Accessible.name: text
}
