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

    function add(q) {
        q = q.trim()
        if (q === "")
            return
        var list = items.filter(function (s) { return s !== q })
        list.unshift(q)
        items = list.slice(0, Config.maxRecent)
        settings.setValue(Config.recentKey, JSON.stringify(items))
    }

    function clear() {
        settings.remove(Config.recentKey)
        items = []
    }

    Component.onCompleted: load()
}
