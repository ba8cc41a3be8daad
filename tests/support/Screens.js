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
