.pragma library

// A seeded walk of a person's actions on the client, checked after each: at most one request,
// no page of a query asked twice, out of turn or beside another, what was asked for said,
// Back's focus on the row opened, a newly focused item shown, Recent only what was searched.
var words = ["qt", "lib", "perl", "zlib", "vim", "no-such-package-anywhere"]

function focusShown(win) {
    var item = win.activeFocusItem, r = item ? item.mapToItem(null, 0, 0, item.width, item.height) : null
    for (var p = item; p; p = p.parent) {
        var c = p.clip ? p.mapToItem(null, 0, 0, p.width, p.height) : { y: 0, height: win.height }
        if (!p.visible || r.y < c.y - 1 || r.y + r.height > c.y + c.height + 1)
            return false
    }
    return true
}

function run(t, app, win, seed, steps, service) {
    var page = app.searchPage, client = page.client, list = page.resultsList, field = page.queryField
    var asked = 0, answered = [true], pending = false, said = 0, searched = {}, faults = [], trail = [], opened = ""
    var state = seed % 2147483646 + 1, next = function (n) { state = state * 16807 % 2147483647; return state % n }
    client.asked.connect(function (q, p) {
        if (p > 0 && (answered[p] || !answered[p - 1] || pending))
            faults.push("page " + p + " of " + q + " asked again, out of turn or beside another")
        answered = p === 0 ? [] : answered
        ++asked; pending = true
    })
    client.answered.connect(function () { answered[client.page] = true; pending = false })
    client.statusChanged.connect(function () { pending = client.busy && pending })
    page.announced.connect(function () { ++said })
    var search = function (q) { searched[q] = true; return "say" }
    // A search while the service is stalled, or gone, ends in a failure that is said.
    var outage = function (recover) {
        var outcome = actions.enter()
        t.tryVerify(function () { return !client.busy }, 10000)
        recover()
        return outcome
    }
    var actions = {
        type: function () {
            var w = words[next(words.length)], before = asked
            field.forceActiveFocus(); field.selectAll()
            w.split("").forEach(function (c) { t.keyClick(c) })
            t.tryVerify(function () { return asked > before }, 5000, "typing " + w + " sent nothing")
        },
        enter: function () {
            field.forceActiveFocus()
            if (next(4) === 0)
                field.clear()
            t.keyClick(Qt.Key_Return)
            return field.text !== "" ? search(field.text) : "nothing"
        },
        wheel: function () { t.mouseWheel(list, list.width / 2, list.height / 2, 0, next(5) ? -120 : 120) },
        tab: function () { t.keyClick(Qt.Key_Tab, next(4) ? Qt.NoModifier : Qt.ShiftModifier) },
        more: function () { var more = t.findChild(list, "moreButton"); if (more.visible) return more.clicked() || "say" },
        chip: function () {
            var chips = t.findChild(app, "recentList"), i = next(chips.count)
            if (chips.count === 0)
                return
            chips.itemAtIndex(i).forceActiveFocus()
            t.keyClick(Qt.Key_Return)
            return search(page.recent.items[i])
        },
        retry: function () {
            if (!page.banner.visible)
                return
            t.findChild(page.banner, "statusText").forceActiveFocus()
            t.keyClick(Qt.Key_Tab)
            t.verify(t.findChild(page.banner, "retryButton").activeFocus, "Tab from the message reaches Retry")
            t.keyClick(Qt.Key_Space)
            return search(client._wantedQuery)
        },
        open: function () {
            if (list.visible && list.count > 0)
                t.mouseClick(list, list.width / 2, 20)
            t.tryVerify(function () { return app.stack.depth === 1 || app.stack.currentItem.status !== "loading" }, 20000)
            opened = app.stack.depth > 1 ? app.stack.currentItem.name : ""
        },
        stall: function () { service.pause(true); return outage(function () { service.pause(false) }) },
        kill: function () { service.stop(); return outage(function () { t.verify(service.startAsService()) }) }
    }
    var names = Object.keys(actions)
    console.log("walk seed " + seed + " (ZELKO_WALK_SEED)")
    for (var step = 0; step < steps; ++step) {
        var name = app.stack.depth === 1 ? names[next(names.length)] : "back"
        var before = asked, saidBefore = said, focused = win.activeFocusItem
        trail.push(name)
        var outcome = name === "back" ? t.keyClick(Qt.Key_Escape) : actions[name]()
        t.tryVerify(function () { return !client.busy && !list.moving && !app.stack.busy }, 20000)
        var where = " (after " + trail.slice(-6).join(" ") + ")"
        t.verify(asked - before <= (outcome === "nothing" ? 0 : 1), (asked - before) + " requests" + where)
        t.verify(faults.length === 0, faults.join("; ") + where)
        t.verify(name !== "type" || field.activeFocus, "typing lost the field" + where)
        if (outcome === "say")
            t.tryVerify(function () { return said > saidBefore }, 5000, "the outcome was not said" + where)
        if (name === "back" && opened !== "")
            t.tryVerify(function () { return win.activeFocusItem && win.activeFocusItem.name === opened }, 5000, "Back to " + opened + where)
        // Scrolling may leave the focus behind; whatever takes it is shown.
        if (win.activeFocusItem !== focused || name === "tab")
            t.tryVerify(function () { return focusShown(win) }, 5000, "focus on " + win.activeFocusItem + " not shown" + where)
        t.verify(page.recent.items.every(function (q) { return searched[q] }), "Recent: " + page.recent.items + where)
    }
}
