import QtQuick 2.15
import QtTest 1.2
import Zelko 1.0
import "../../qml/Zelko"
import "../../qml/Zelko/Config.js" as Config
import "../../qml/Zelko/Protocol.js" as Protocol

// The client's real screens against the real search service.
TestCase {
    id: testCase
    name: "Screens"
    when: windowShown
    // Shown, so the screens lay out, draw and report their frames as in the application.
    visible: true
    width: 480
    height: 800

    Component { id: appComponent; ZelkoApp {} }
    Component { id: searchComponent; SearchPage { width: 480; height: 800 } }
    Settings { id: settings }

    function initTestCase() {
        if (!referenceService.startAsService())
            fail("the reference service did not start: " + referenceService.log)
        settings.remove(Config.recentKey)
    }

    function searchPage() {
        var page = createTemporaryObject(searchComponent, testCase)
        tryCompare(page.client, "status", "results", 20000)
        return page
    }

    function shownNames(page) {
        var names = []
        for (var i = 0; i < page.client.results.count; ++i)
            names.push(page.client.results.get(i).name)
        return names
    }

    function test_startPageShowsResultsWithThumbnails() {
        var app = createTemporaryObject(appComponent, testCase)
        var shown = createTemporaryObject(spyComponent, testCase, { target: app, signalName: "firstResultsShown" })
        var page = app.searchPage
        compare(page.queryField.text, Config.defaultQuery)
        tryCompare(page.client, "status", "results", 20000)
        verify(page.client.results.count > 0)
        verify(page.client.total >= page.client.results.count)

        var thumbnail = findChild(page.resultsList, "thumbnail")
        verify(thumbnail !== null)
        tryCompare(thumbnail, "status", Image.Ready, 10000)
        compare(thumbnail.sourceSize, Qt.size(48, 48))
        verify(String(thumbnail.source).indexOf("image://res/pkg/") === 0)

        // What the run script waits for.
        shown.wait(20000)
        compare(shown.signalArguments[0][0], page.client.results.count)
        var rects = page.thumbnailRects()
        verify(rects.length > 0)
        verify(rects.every(function (r) { return r.ready }))
    }

    Component { id: spyComponent; SignalSpy {} }

    function test_failuresShowErrorState_data() {
        return [
            { tag: "bad signature", q: "zlib", badSign: true, fromService: true, code: 2 },
            { tag: "query longer than the service takes", q: "x".repeat(300), badSign: false, fromService: true, code: 1 },
            { tag: "body over the size limit", q: "x".repeat(9000), badSign: false, fromService: false, code: Request.OtherError },
        ]
    }

    function test_failuresShowErrorState(data) {
        var page = searchPage()
        var before = shownNames(page)
        if (data.badSign)
            page.client.signer = function (text) { return "00000000000000000000000000000000" }
        page.search(data.q)
        tryCompare(page.client, "status", "error", 20000)
        compare(page.client.serviceError, data.fromService)
        compare(page.client.errorCode, data.code)
        verify(page.banner.visible)
        compare(findChild(page.banner, "statusText").text,
                data.fromService ? Protocol.serviceMessage(data.code) : Protocol.transportMessage(data.code))
        // The earlier results stay; the banner offers a retry.
        compare(shownNames(page), before)
        if (data.badSign) {
            page.client.signer = null
            findChild(page.banner, "retryButton").clicked()
            tryCompare(page.client, "status", "results", 20000)
            compare(page.client.query, data.q)
            verify(!page.banner.visible)
        }
    }

    function test_cancelShowsCancelledState() {
        var page = searchPage()
        page.search("lib")
        verify(page.client.busy)
        verify(page.cancelButton.visible)
        page.cancelButton.clicked()
        tryCompare(page.client, "status", "cancelled", 20000)
        compare(page.client.errorCode, Request.Canceled)
        compare(page.client.serviceError, false)
        verify(page.banner.visible)
        compare(findChild(page.banner, "statusText").text, Protocol.transportMessage(Request.Canceled))
        verify(!page.cancelButton.visible)
    }

    function test_pagingMovesThroughResults() {
        var page = searchPage()
        page.search("lib")
        tryCompare(page.client, "status", "results", 20000)
        verify(page.client.pages > 1)
        var first = shownNames(page)
        compare(first.length, Config.pageSize)
        findChild(page, "nextButton").clicked()
        tryCompare(page.client, "page", 1, 20000)
        tryCompare(page.client, "status", "results", 20000)
        var second = shownNames(page)
        verify(second.every(function (n) { return first.indexOf(n) < 0 }))
        compare(findChild(page, "pageText").text, "Page 2 of " + page.client.pages)
        findChild(page, "previousButton").clicked()
        tryCompare(page.client, "page", 0, 20000)
        tryCompare(page.client, "status", "results", 20000)
        compare(shownNames(page), first)
    }

    function test_recentQueriesAreKept() {
        var page = searchPage()
        page.search("zlib")
        tryCompare(page.client, "status", "results", 20000)
        page.search("no-such-package-anywhere")
        tryCompare(page.client, "status", "results", 20000)
        compare(page.client.total, 0)
        compare(page.recent.items[0], "zlib")
        // Read back from the settings by a page of its own.
        var other = searchPage()
        verify(other.recent.items.indexOf("zlib") >= 0)
        verify(other.recent.items.indexOf("no-such-package-anywhere") < 0)
        verify(findChild(other, "recentList").count > 0)
    }

    // Writing the recent list flushes the settings to disk, which must not hold up
    // the frame with the results: it waits for that frame, or for whatever comes first.
    function test_recentQueryWrittenAfterResultsDrawn_data() {
        return [
            { tag: "results shown", then: "shown" },
            { tag: "another search first", then: "search" },
            { tag: "page closed first", then: "closed" },
        ]
    }

    function test_recentQueryWrittenAfterResultsDrawn(data) {
        var page = searchPage()
        settings.remove(Config.recentKey)
        var shown = createTemporaryObject(spyComponent, testCase, { target: page, signalName: "resultsShown" })
        // The list the page loaded may hold "zlib" already; written, it leads.
        var written = function () {
            var saved = settings.value(Config.recentKey)
            return saved !== "" && JSON.parse(saved)[0] === "zlib"
        }
        // Checked as the answer arrives: a spy's wait lets frames, and so the show, pass.
        var atAnswer = null, afterAction = null
        page.client.answered.connect(function (count) {
            if (atAnswer !== null || page.client.query !== "zlib")
                return
            atAnswer = { count: count, first: page.recent.items[0], written: written() }
            if (data.then === "search") {
                page.search("qt")
                afterAction = written()
            } else if (data.then === "closed") {
                page.destroy()
            }
        })
        page.search("zlib")
        tryVerify(function () { return atAnswer !== null }, 20000)
        verify(atAnswer.count > 0)
        compare(atAnswer.first, "zlib")
        verify(!atAnswer.written)
        if (data.then === "shown") {
            // Not shown.wait(): a slow machine may show an earlier search's results first.
            tryVerify(written, 20000)
            verify(shown.count > 0)
        } else if (data.then === "search") {
            verify(afterAction)
        } else {
            tryVerify(written, 10000)
        }
    }

    function test_feedbackTravelsOverHttps() {
        var app = createTemporaryObject(appComponent, testCase)
        var about = app.openAbout()
        about.feedbackUrl = referenceService.feedbackUrl
        about.sendFeedback("Works well")
        tryCompare(about, "feedbackState", "sent", 20000)
        compare(findChild(about, "feedbackStatus").text, "Thank you for your feedback.")
    }

    function test_detailsPage_data() {
        return [
            { tag: "installed", name: "dpkg", state: "shown" },
            { tag: "not installed", name: "no-such-package-anywhere", state: "error" },
        ]
    }

    function test_detailsPage(data) {
        var app = createTemporaryObject(appComponent, testCase)
        var details = app.openDetails(data.name)
        tryCompare(details, "status", data.state, 20000)
        if (data.state === "shown")
            compare(details.details.name, data.name)
        else
            compare(details.message, Protocol.serviceMessage(4))
    }
}
