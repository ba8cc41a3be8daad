import QtQuick 2.15
import QtQuick.Window 2.15
import Zelko 1.0
import ZelkoTest 1.0
import "Screens.js" as Screens

// The test client's main file in place of the client's own: the real client, driven through
// the steps the test names, each reported to the test's cue address once drawn; the next
// step waits for the test's answer.
//   zelko-testclient CUE_URL STEP[,STEP...] REFUSING_URL [PICTURE_FILE WIDTHxHEIGHT]
// Steps: results (the first page drawn, thumbnails and all), picture (the client at the
// given size saved by the toolkit to PICTURE_FILE), error (a search that REFUSING_URL refuses),
// details (the first result's page), about (the about page). Every report carries the
// tree walk of the window (support/treewalk.h). A failure is logged ("DRIVER ...") and
// ends the run: the viewer knows no exit code but quit's.
Item {
    id: driver
    readonly property var args: Qt.application.arguments
    readonly property var steps: String(args[2]).split(",")
    readonly property var pictureSize: args.length > 5 ? String(args[5]).split("x") : []
    property int step: -1
    property bool resultsShown: false
    property var ready: null

    ZelkoApp {
        id: app
        width: driver.pictureSize.length === 2 ? Number(driver.pictureSize[0]) : driver.width
        height: driver.pictureSize.length === 2 ? Number(driver.pictureSize[1]) : driver.height
        onFirstResultsShown: driver.resultsShown = true
    }

    Request {
        id: cue
        onSslResponse: function (json, key) { driver.next() }
        onError: function (errCode, key) {
            console.log("DRIVER the test did not answer: " + errCode)
            Qt.quit()
        }
    }

    function client() { return app.searchPage.client }

    function next() {
        ++step
        if (step >= steps.length) {
            Qt.quit()
            return
        }
        var name = steps[step]
        if (name === "results") {
            ready = function () { return resultsShown }
        } else if (name === "picture") {
            app.grabToImage(function (result) {
                result.saveToFile(String(args[4]))
                report()
            })
            return
        } else if (name === "error") {
            client().request.url = String(args[3])
            app.searchPage.search("zlib")
            ready = function () { return client().status === "error" }
        } else if (name === "details") {
            var page = app.openDetails(client().results.get(0).name)
            ready = function () { return !app.stack.busy && page.status === "shown" }
        } else if (name === "about") {
            app.stack.pop(null)
            app.openAbout()
            ready = function () { return !app.stack.busy }
        } else {
            console.log("DRIVER no step " + name)
            Qt.quit()
        }
        poll.start()
    }

    // Drawn after the state is reached, so that what the walk reads is on screen.
    Timer {
        id: poll
        interval: 20
        repeat: true
        onTriggered: {
            if (!driver.ready())
                return
            stop()
            drawn.start()
        }
    }
    AfterFrames {
        id: drawn
        onDone: {
            driver.ready = null
            driver.report()
        }
    }

    function report() {
        var results = []
        for (var i = 0; i < client().results.count; ++i) {
            var r = client().results.get(i)
            results.push({ name: r.name, version: r.version, summary: r.summary })
        }
        cue.requestHttps(JSON.stringify({ step: steps[step], walk: TreeWalk.walk(app),
                                          thumbnails: Screens.thumbnailRects(app.searchPage), results: results }),
                         String(args[1]))
    }

    Component.onCompleted: next()
}
