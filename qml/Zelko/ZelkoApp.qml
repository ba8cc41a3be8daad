import QtQuick 2.15
import QtQuick.Controls 2.15
import "Theme.js" as Theme

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

    function openAbout() { return stack.push(aboutComponent) }
    function openDetails(name) { return stack.push(detailsComponent, { name: name }) }

    StackView {
        id: stack
        anchors.fill: parent
        initialItem: searchPage
        focus: true
        Keys.onBackPressed: if (depth > 1) pop()
    }

    SearchPage {
        id: searchPage
        onAboutRequested: app.openAbout()
        onDetailsRequested: function (name) { app.openDetails(name) }
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
        AboutPage { onBack: stack.pop() }
    }
    Component {
        id: detailsComponent
        DetailsPage { onBack: stack.pop() }
    }
}
