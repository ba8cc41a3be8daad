import QtQuick 2.15
import QtQuick.Window 2.15

// done() once the window has drawn a few frames from start(): what a suite then reads
// is on screen. Frame signals come from the render thread and may arrive for frames
// drawn before start(); the window system may still show the last a moment later.
Item {
    id: waiter
    signal done()
    property int _frames: -1

    function start() {
        _frames = 0
        Window.window.update()
    }

    Connections {
        target: waiter.Window.window
        enabled: waiter._frames >= 0
        function onFrameSwapped() {
            if (++waiter._frames < 3) {
                waiter.Window.window.update()
                return
            }
            waiter._frames = -1
            waiter.done()
        }
    }
}
