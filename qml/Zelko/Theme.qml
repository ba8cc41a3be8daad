pragma Singleton
import QtQuick 2.15
import Zelko 1.0

// The screens' colours, light or dark as the system prefers (the desktop portal's
// color-scheme), following it as it changes. Every text colour keeps 4.5:1 or more against
// each background it is drawn on, in both schemes; small muted text keeps more, since thin
// glyphs come out lighter than their colour.
QtObject {
    readonly property bool dark: Appearance.dark

    readonly property var schemes: ({
        light: { brand: "#1a4f8b", brandDark: "#0d2f57", link: "#1a4f8b", page: "#f4f4f4",
                 card: "#ffffff", line: "#dde1e6", text: "#1b1f24", muted: "#4d5866",
                 errorBack: "#fdecea", errorText: "#8a1c12", noticeBack: "#eef1f5", chip: "#e3ebf5" },
        dark: { brand: "#1f3a5c", brandDark: "#132538", link: "#8dbbf0", page: "#121417",
                card: "#1c1f24", line: "#30353c", text: "#e8eaed", muted: "#a4adb8",
                errorBack: "#4a1e1a", errorText: "#ffb4a9", noticeBack: "#262b31", chip: "#26364a" }
    })
    readonly property var scheme: dark ? schemes.dark : schemes.light

    readonly property color brand: scheme.brand
    readonly property color brandDark: scheme.brandDark
    readonly property color link: scheme.link
    readonly property color page: scheme.page
    readonly property color card: scheme.card
    readonly property color line: scheme.line
    readonly property color text: scheme.text
    readonly property color muted: scheme.muted
    readonly property color errorBack: scheme.errorBack
    readonly property color errorText: scheme.errorText
    readonly property color noticeBack: scheme.noticeBack
    readonly property color chip: scheme.chip
}
