.pragma library
.import QtQuick 2.15 as Quick

// What the suites read off the client's screens.

// Thumbnails of the search page's rows wholly inside its list, in window coordinates.
function thumbnailRects(page) {
    var list = page.resultsList
    var rects = []
    var rows = list.contentItem.children
    for (var i = 0; i < rows.length; ++i) {
        var row = rows[i]
        if (!row.thumbnail || !row.visible || row.y < list.contentY
                || row.y + row.height > list.contentY + list.height)
            continue
        var at = row.thumbnail.mapToItem(null, 0, 0)
        rects.push({ name: row.name, x: Math.round(at.x), y: Math.round(at.y),
                     width: row.thumbnail.width, height: row.thumbnail.height,
                     ready: row.thumbnail.status === Quick.Image.Ready })
    }
    return rects.sort(function (a, b) { return a.y - b.y })
}

// WCAG 2's contrast of two "#rrggbb" colours.
function contrast(a, b) {
    var l = [a, b].map(function (c) {
        var v = [1, 3, 5].map(function (i) {
            var x = parseInt(c.substr(i, 2), 16) / 255
            return x <= 0.03928 ? x / 12.92 : Math.pow((x + 0.055) / 1.055, 2.4)
        })
        return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2] + 0.05
    })
    return Math.max(l[0], l[1]) / Math.min(l[0], l[1])
}
