import QtQuick 2.15
import QtQuick.Window 2.15
import QtTest 1.2
import Zelko 1.0
import "../../qml/Zelko"
import "../../qml/Zelko/Config.js" as Config
import "../../qml/Zelko/Protocol.js" as Protocol
import "../support/Screens.js" as Screens
import "../support/Walk.js" as Walk

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

    // Whatever a test did to the service and the limit, undone.
    function cleanup() {
        referenceService.pause(false)
        Config.requestTimeout = 15000
    }

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
        var rects = Screens.thumbnailRects(page)
        verify(rects.length > 0)
        verify(rects.every(function (r) { return r.ready }))
    }

    Component { id: spyComponent; SignalSpy {} }

    function test_failuresShowErrorState_data() {
        return [
            { tag: "refused", q: "zlib", refused: true, fromService: true, code: 2 },
        ]
    }

    function test_failuresShowErrorState(data) {
        var page = searchPage()
        var before = shownNames(page)
        if (data.refused)
            page.client.request.url = refusingUrl
        page.search(data.q)
        tryCompare(page.client, "status", "error", 20000)
        compare(page.client.serviceError, data.fromService)
        compare(page.client.errorCode, data.code)
        verify(page.banner.visible)
        compare(findChild(page.banner, "statusText").text,
                data.fromService ? Protocol.serviceMessage(data.code) : Protocol.transportMessage(data.code))
        // The earlier results stay; the banner offers a retry.
        compare(shownNames(page), before)
        if (data.refused) {
            page.client.request.url = ""
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

    // The next page is asked for as the end of the list nears; a button asks too.
    function test_resultsGoOnAsTheListScrolls_data() {
        return [
            { tag: "positioned at the end", q: "lib" },
            // Rows of unequal height move the list's origin: flicks alone reach the last result.
            { tag: "flicked to the last result", q: "qt", flicks: true },
        ]
    }

    function test_resultsGoOnAsTheListScrolls(data) {
        var page = searchPage(), list = page.resultsList
        page.search(data.q)
        tryCompare(page.client, "status", "results", 20000)
        for (var i = 0; data.flicks && i < 3 * page.client.pages && list.count < page.client.total; ++i) {
            list.flick(0, -4000)
            tryVerify(function () { return !list.moving && !page.client.busy }, 20000)
        }
        if (data.flicks)
            return compare(list.count, page.client.total)
        verify(page.client.pages > 4)
        compare(page.client.results.count, Config.pageSize)
        for (var pages = 2; pages <= 3; ++pages) {
            page.resultsList.positionViewAtEnd()
            tryCompare(page.client.results, "count", pages * Config.pageSize, 20000)
            tryCompare(page.client, "status", "results", 20000)
        }
        findChild(page.resultsList, "moreButton").clicked()
        tryCompare(page.client.results, "count", 4 * Config.pageSize, 20000)
        var names = shownNames(page)
        verify(names.every(function (n, i) { return names.indexOf(n) === i }))
    }

    function test_queryBoundedAsTheServiceTakesIt() {
        var page = searchPage()
        page.search("x".repeat(Config.maxQueryLength + 44))
        tryCompare(page.client, "status", "results", 20000)
        compare(page.client.query.length, Config.maxQueryLength)
        compare(findChild(page, "summaryText").text, "A query has at most 256 characters.")
    }

    function test_emptyResultShowsAHint() {
        var page = searchPage()
        page.search("no-such-package-anywhere")
        tryCompare(page.client, "status", "results", 20000)
        verify(findChild(page, "emptyText").visible)
        compare(findChild(page, "emptyText").text, "No installed package matches “no-such-package-anywhere”.")
    }

    // A stalled service ends every request at the client's own limit with a message, and
    // Retry works once it answers again.
    function test_stalledServiceEndsInRetry_data() {
        return [ { tag: "search" }, { tag: "details" }, { tag: "feedback" } ]
    }

    function test_stalledServiceEndsInRetry(data) {
        var app = createTemporaryObject(appComponent, testCase)
        tryCompare(app.searchPage.client, "status", "results", 20000)
        // The screens' limit, for the requests from here on.
        Config.requestTimeout = 400
        referenceService.pause(true)
        var screen = app.searchPage, state = "status"
        if (data.tag === "search") {
            app.searchPage.search("zlib")
        } else if (data.tag === "details") {
            screen = app.openDetails("dpkg")
        } else {
            screen = app.openAbout()
            screen.feedbackUrl = stallUrl
            findChild(screen, "feedbackField").text = "Stuck?"
            findChild(screen, "sendButton").clicked()
            state = "feedbackState"
        }
        tryCompare(screen.client || screen, state, "error", 10000)
        cleanup()
        verify(findChild(screen, data.tag === "feedback" ? "feedbackStatus" : "statusText").text.indexOf(
                   Protocol.transportMessage(Request.TimeOut)) >= 0)
        if (data.tag === "feedback")
            screen.feedbackUrl = referenceService.feedbackUrl
        findChild(screen, data.tag === "feedback" ? "sendButton" : "retryButton").clicked()
        tryCompare(screen.client || screen, state, data.tag === "search" ? "results" : data.tag === "details" ? "shown" : "sent", 20000)
    }

    // Each text on what it is drawn on, light and dark: WCAG's 4.5:1 at least, and 6:1 for small
    // muted text, which comes out lighter as drawn (4.9:1 by colour measured 4.1:1 on screen).
    function test_textContrast_data() {
        return [
            { tag: "text on page", fg: "text", bg: "page" },
            { tag: "text on card", fg: "text", bg: "card" },
            { tag: "buttons, notices", fg: "text", bg: "noticeBack" },
            { tag: "count, Recent, About's labels", fg: "muted", bg: "page", min: 6 },
            { tag: "placeholders, row summaries", fg: "muted", bg: "card", min: 6 },
            { tag: "failures", fg: "errorText", bg: "errorBack" },
            { tag: "recent chips", fg: "link", bg: "chip" },
            { tag: "title bar", fg: "#ffffff", bg: "brand" },
            { tag: "pressed title button", fg: "#ffffff", bg: "brandDark" },
        ]
    }

    function test_textContrast(data) {
        ["light", "dark"].forEach(function (name) {
            var scheme = Theme.schemes[name], ratio = Screens.contrast(scheme[data.fg] || data.fg, scheme[data.bg])
            verify(ratio >= (data.min || 4.5), name + ": " + ratio.toFixed(2))
        })
    }

    // A seeded walk of a person's actions (support/Walk.js); ZELKO_WALK_SEED picks another.
    function test_sessionWalk() {
        settings.remove(Config.recentKey)
        var app = createTemporaryObject(appComponent, testCase)
        tryCompare(app.searchPage.client, "status", "results", 20000)
        Config.requestTimeout = 500
        Walk.run(testCase, app, Window.window, Number(referenceService.environment("ZELKO_WALK_SEED") || 1210), 80, referenceService)
    }

    // Back as a phone, a keyboard and a mouse know it.
    function test_backFromAnyPage_data() {
        return [
            { tag: "Back key", key: Qt.Key_Back, modifiers: Qt.NoModifier },
            { tag: "Escape", key: Qt.Key_Escape, modifiers: Qt.NoModifier },
            { tag: "Alt+Left", key: Qt.Key_Left, modifiers: Qt.AltModifier },
            { tag: "mouse back button", key: 0 },
            // Escape leaves the feedback box, not the page; the draft outlives the page.
            { tag: "Escape in the feedback box", key: Qt.Key_Escape, modifiers: Qt.NoModifier, draft: "Half a thought" },
        ]
    }

    function test_backFromAnyPage(data) {
        var app = createTemporaryObject(appComponent, testCase)
        var box = findChild(app.openAbout(), "feedbackField")
        tryCompare(app.stack, "busy", false)
        if (data.draft) {
            box.text = data.draft
            box.forceActiveFocus()
            keyClick(data.key)
            compare(app.stack.depth, 2)
        }
        if (data.key)
            keyClick(data.key, data.modifiers)
        else
            mouseClick(app, 10, 10, Qt.BackButton)
        tryCompare(app.stack, "depth", 1)
        if (data.draft)
            compare(findChild(app.openAbout(), "feedbackField").text, data.draft)
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

    function test_feedbackTravelsOverHttps_data() {
        return [
            { tag: "written", text: "Works well", state: "sent", status: "Thank you for your feedback." },
            { tag: "nothing written", text: "", state: "idle", status: "Write your feedback first." },
        ]
    }

    function test_feedbackTravelsOverHttps(data) {
        var app = createTemporaryObject(appComponent, testCase)
        var about = app.openAbout()
        about.feedbackUrl = referenceService.feedbackUrl
        findChild(about, "feedbackField").text = data.text
        findChild(about, "sendButton").clicked()
        tryCompare(about, "feedbackState", data.state, 20000)
        compare(findChild(about, "feedbackStatus").text, data.status)
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
