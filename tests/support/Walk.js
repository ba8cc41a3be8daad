.pragma library

// A seeded walk of what a person does on the client, checked after every action: at most one
// request (none for an action that asks nothing), no page of a query asked twice, out of turn
// or beside another, the outcome of what was asked for said, the focus on something shown,
// Recent holding only what was searched.
var words = ["qt", "lib", "perl", "zlib", "vim", "no-such-package-anywhere"]

function random(seed) { // mulberry32: a seed gives one walk
    return function () {
        seed = (seed + 0x6D2B79F5) | 0
        var t = Math.imul(seed ^ (seed >>> 15), 1 | seed)
        t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t
        return ((t ^ (t >>> 14)) >>> 0) / 4294967296
    }
}

// Wholly inside the window and every clipping item around it, all shown.
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
    var next = random(seed), asked = 0, answered = {}, pending = false, said = 0, searched = {}, faults = []
    var trail = [], opened = ""
    for (var shown = 0; shown <= client.page; ++shown)
        answered[shown] = true
    client.asked.connect(function (q, p) {
        if (p > 0 && (answered[p] || !answered[p - 1] || pending))
            faults.push("page " + p + " of " + q + " asked again, out of turn or beside another")
        answered = p === 0 ? {} : answered
        ++asked; pending = true
    })
    client.answered.connect(function () { answered[client.page] = true; pending = false })
    client.statusChanged.connect(function () { pending = client.busy && pending })
    page.announced.connect(function () { ++said })
    var home = function () { return app.stack.depth === 1 }
    var search = function (q) { searched[q] = true; return "say" }
    var actions = {
        type: function () {
            var w = words[Math.floor(next() * words.length)], before = asked
            field.forceActiveFocus(); field.selectAll()
            w.split("").forEach(function (c) { t.keyClick(c) })
            t.tryVerify(function () { return asked > before }, 5000, "typing " + w + " sent nothing")
        },
        enter: function () {
            field.forceActiveFocus()
            if (next() < 0.25)
                field.clear()
            t.keyClick(Qt.Key_Return)
            return field.text !== "" ? search(field.text) : "nothing"
        },
        wheel: function () { t.mouseWheel(list, list.width / 2, list.height / 2, 0, next() < 0.8 ? -120 : 120) },
        tab: function () { t.keyClick(Qt.Key_Tab, next() < 0.25 ? Qt.ShiftModifier : Qt.NoModifier) },
        more: function () { if (list.footerItem.button.visible) { list.footerItem.button.clicked(); return "say" } },
        chip: function () {
            var chips = t.findChild(app, "recentList"), i = Math.floor(next() * chips.count)
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
        // A search while the service is stalled, or gone, ends in a failure that is said.
        stall: function () { service.pause(true); return outage(function () { service.pause(false) }) },
        kill: function () { service.stop(); return outage(function () { t.verify(service.startAsService()) }) }
    }
    var outage = function (recover) {
        var outcome = actions.enter()
        t.tryVerify(function () { return !client.busy }, 10000)
        recover()
        return outcome
    }
    var names = Object.keys(actions)
    console.log("walk seed " + seed + " (ZELKO_WALK_SEED)")
    for (var step = 0; step < steps; ++step) {
        var name = home() ? names[Math.floor(next() * names.length)] : "back"
        var before = asked, saidBefore = said, focused = win.activeFocusItem
        trail.push(name)
        var outcome = name === "back" ? t.keyClick(Qt.Key_Escape) : actions[name]()
        t.tryVerify(function () { return !client.busy && !list.moving && !app.stack.busy }, 20000)
        var where = " (seed " + seed + ", after " + trail.slice(-6).join(" ") + ")"
        t.verify(asked - before <= (outcome === "nothing" ? 0 : 1), (asked - before) + " requests" + where)
        t.verify(faults.length === 0, faults.join("; ") + where)
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
