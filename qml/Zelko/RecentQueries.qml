import QtQuick 2.15
import Zelko 1.0
import "Config.js" as Config

// The last queries that found something, newest first, kept across runs.
Item {
    id: recent
    visible: false

    property var items: []

    Settings { id: settings }

    function load() {
        try {
            var list = JSON.parse(settings.value(Config.recentKey))
            items = Array.isArray(list) ? list.filter(function (s) { return typeof s === "string" }) : []
        } catch (e) {
            items = []   // nothing stored yet reads as ""
        }
    }

    // Settings are flushed to disk as soon as the event loop runs again: with later,
    // the list changes at once but is written by the next save(), so that a caller
    // can keep that flush from standing between an answer and the frame showing it.
    function add(q, later) {
        q = q.trim()
        if (q === "")
            return
        var list = items.filter(function (s) { return s !== q })
        list.unshift(q)
        items = list.slice(0, Config.maxRecent)
        _unsaved = true
        if (!later)
            save()
    }

    function save() {
        if (!_unsaved)
            return
        _unsaved = false
        settings.setValue(Config.recentKey, JSON.stringify(items))
    }

    function clear() {
        _unsaved = false
        settings.remove(Config.recentKey)
        items = []
    }

    property bool _unsaved: false

    Component.onCompleted: load()
    Component.onDestruction: save()
}
