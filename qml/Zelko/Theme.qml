pragma Singleton
import QtQuick 2.15
import Zelko 1.0

// The screens' colours, light or dark as the system prefers (the desktop portal's
// color-scheme), following it as it changes.
QtObject {
    readonly property bool dark: Appearance.dark

    readonly property color brand: dark ? "#1f3a5c" : "#1a4f8b"
    readonly property color brandDark: dark ? "#132538" : "#0d2f57"
    readonly property color link: dark ? "#8dbbf0" : "#1a4f8b"
    readonly property color page: dark ? "#121417" : "#f4f4f4"
    readonly property color card: dark ? "#1c1f24" : "#ffffff"
    readonly property color line: dark ? "#30353c" : "#dde1e6"
    readonly property color text: dark ? "#e8eaed" : "#1b1f24"
    // Small text in it keeps 4.5:1 against every background it is drawn on, also as drawn
    // (thin glyphs come out lighter than their colour).
    readonly property color muted: dark ? "#a4adb8" : "#4d5866"
    readonly property color errorBack: dark ? "#4a1e1a" : "#fdecea"
    readonly property color errorText: dark ? "#ffb4a9" : "#8a1c12"
    readonly property color noticeBack: dark ? "#262b31" : "#eef1f5"
    readonly property color chip: dark ? "#26364a" : "#e3ebf5"
}
