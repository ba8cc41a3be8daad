import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15

// The whole client: the search page, with the about and details pages pushed over it.
Rectangle {
    id: app
    width: 480
    height: 800
    color: Theme.page

    readonly property alias searchPage: searchPage
    readonly property alias stack: stack
    signal firstResultsShown(int count)

    property bool _announced: false
    // Feedback written and not sent yet: it outlives the about page.
    property string _feedbackDraft: ""

    function openAbout() { return stack.push(aboutComponent, { draft: _feedbackDraft }) }
    function openDetails(name) { return stack.push(detailsComponent, { name: name }) }
    function back() {
        if (stack.depth > 1)
            stack.pop()
    }

    StackView {
        id: stack
        anchors.fill: parent
        initialItem: searchPage
        focus: true
        Keys.onBackPressed: app.back()
        // The toolkit's controls (fields, buttons) in the screens' colours, dark ones too.
        palette.window: Theme.page
        palette.windowText: Theme.text
        palette.base: Theme.card
        palette.text: Theme.text
        palette.button: Theme.noticeBack
        palette.buttonText: Theme.text
        palette.highlight: Theme.brand
        palette.highlightedText: "white"
        palette.mid: Theme.line
        palette.dark: Theme.brand
        palette.brightText: "white"
    }

    // Back as a desktop and a keyboard know it, besides the phone's Back key.
    Shortcut {
        sequences: ["Esc", "Alt+Left"]
        enabled: stack.depth > 1
        onActivated: app.back()
    }
    TapHandler {
        acceptedButtons: Qt.BackButton
        onTapped: app.back()
    }

    SearchPage {
        id: searchPage
        onAboutRequested: app.openAbout()
        onDetailsRequested: function (name) { app.openDetails(name) }
        StackView.onActivated: searchPage.restoreFocus()
        onResultsShown: function (count) {
            if (app._announced)
                return
            app._announced = true
            // The run script and the end-to-end test wait for this line.
            console.log("zelko: results shown (" + count + " packages)")
            app.firstResultsShown(count)
        }
    }

    Component {
        id: aboutComponent
        AboutPage {
            onBack: app.back()
            onDraftChanged: app._feedbackDraft = draft
        }
    }
    Component {
        id: detailsComponent
        DetailsPage { onBack: app.back() }
    }

    // What a window list and a screen reader call the window.
    function _nameWindow() {
        if (Window.window)
            Window.window.title = qsTr("Zelko")
    }
    Window.onWindowChanged: _nameWindow()
    Component.onCompleted: _nameWindow()
}
