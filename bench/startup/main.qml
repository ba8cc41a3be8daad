import QtQuick 2.15
import QtQuick.Window 2.15

// The page both start-up measurements load: says so on stderr when its first
// frame has been shown, then keeps running until the benchmark ends it.
Rectangle {
    id: root
    property bool shown: false
    width: 480
    height: 800
    color: "#f4f4f4"

    Column {
        anchors.centerIn: parent
        spacing: 12
        Text { text: "Zelko"; font.pixelSize: 32 }
        Rectangle { width: 240; height: 40; radius: 6; color: "#ffffff"; border.color: "#c0c0c0" }
        Repeater {
            model: 6
            Text { text: "Result " + (index + 1); font.pixelSize: 18 }
        }
    }

    Connections {
        target: root.Window.window
        function onFrameSwapped() {
            if (!root.shown) {
                root.shown = true;
                console.log("first-frame");
            }
        }
    }
}
