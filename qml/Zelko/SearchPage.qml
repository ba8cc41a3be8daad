import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15
import "Config.js" as Config
import "Theme.js" as Theme

// The start page: query field, recent queries, results with thumbnails, paging,
// and a banner for every failure. It runs the default query at once.
Rectangle {
    id: searchPage
    color: Theme.page

    readonly property alias client: client
    readonly property alias recent: recent
    readonly property alias queryField: field
    readonly property alias resultsList: list
    readonly property alias cancelButton: cancelButton
    readonly property alias banner: banner

    signal aboutRequested()
    signal detailsRequested(string name)
    // A frame showing a page of results with its thumbnails has been drawn.
    signal resultsShown(int count)

    function search(q) {
        recent.save()
        field.text = q
        client.search(q, 0)
    }

    // Thumbnails of the delegates wholly inside the list, in window coordinates.
    function thumbnailRects() {
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
                         ready: row.thumbnail.status === Image.Ready })
        }
        return rects.sort(function (a, b) { return a.y - b.y })
    }

    function _thumbnailsReady() {
        var rects = thumbnailRects()
        return rects.length > 0 && rects.every(function (r) { return r.ready })
    }

    property bool _showPending: false
    property int _readyFrames: 0

    SearchClient {
        id: client
        onAnswered: function (count) {
            // Written once the results are on screen, when there are some to draw.
            if (total > 0)
                recent.add(query, count > 0)
            list.positionViewAtBeginning()
            searchPage._readyFrames = 0
            searchPage._showPending = count > 0
        }
    }

    RecentQueries { id: recent }

    // Frame signals come from the render thread and may arrive in bursts for frames
    // drawn before the results; a few more after readiness make sure one was drawn
    // from the complete scene. The window system may still show it a little later.
    Connections {
        target: searchPage.Window.window
        enabled: searchPage._showPending
        function onFrameSwapped() {
            if (searchPage._readyFrames > 0 || searchPage._thumbnailsReady())
                ++searchPage._readyFrames
            if (searchPage._readyFrames > 3) {
                searchPage._showPending = false
                searchPage.resultsShown(client.results.count)
                recent.save()
            } else {
                searchPage.Window.window.update()
            }
        }
    }

    Rectangle {
        id: header
        width: parent.width
        height: 56
        color: Theme.brand

        Text {
            id: title
            anchors.left: parent.left
            anchors.leftMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Zelko")
            font.pixelSize: 26
            font.bold: true
            color: "white"
        }
        HeaderButton {
            id: aboutButton
            objectName: "aboutButton"
            anchors.right: parent.right
            text: qsTr("About")
            onClicked: searchPage.aboutRequested()
        }
    }

    Item {
        id: searchRow
        // A phone held sideways leaves too little height for two bars: the query goes into
        // the title bar, between the name and About.
        readonly property bool inHeader: searchPage.height < 480
        anchors.top: inHeader ? header.top : header.bottom
        x: inHeader ? header.x + title.x + title.width + 4 : 0
        width: inHeader ? header.x + aboutButton.x - x : parent.width
        height: inHeader ? header.height : 68

        TextField {
            id: field
            objectName: "queryField"
            anchors.left: parent.left
            anchors.right: actions.left
            anchors.margins: 12
            anchors.verticalCenter: parent.verticalCenter
            height: 48
            placeholderText: qsTr("Search installed packages")
            font.pixelSize: 18
            selectByMouse: true
            // The query is sent as typed: a phone's keyboard must neither complete nor
            // capitalise it (package names are lower case).
            inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
            Accessible.name: qsTr("Search query")
            onAccepted: searchPage.search(text)
        }
        Item {
            id: actions
            anchors.right: parent.right
            anchors.rightMargin: 12
            width: Math.max(searchButton.implicitWidth, cancelButton.implicitWidth)
            height: 48
            anchors.verticalCenter: parent.verticalCenter

            TouchButton {
                id: searchButton
                objectName: "searchButton"
                anchors.fill: parent
                text: qsTr("Search")
                visible: !client.busy
                highlighted: true
                onClicked: searchPage.search(field.text)
            }
            TouchButton {
                id: cancelButton
                objectName: "cancelButton"
                anchors.fill: parent
                text: qsTr("Cancel")
                visible: client.busy
                onClicked: client.cancel()
            }
        }
    }

    Item {
        id: recentRow
        anchors.top: searchRow.bottom
        width: parent.width
        height: recent.items.length > 0 ? 48 : 0
        visible: height > 0
        clip: true

        Text {
            id: recentLabel
            anchors.left: parent.left
            anchors.leftMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Recent")
            font.pixelSize: 13
            color: Theme.muted
        }
        ListView {
            objectName: "recentList"
            anchors.left: recentLabel.right
            anchors.leftMargin: 8
            anchors.right: parent.right
            height: parent.height
            orientation: ListView.Horizontal
            spacing: 6
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Recent searches")
            model: recent.items
            // A chip looks 32 px high but takes a fingertip's 48.
            delegate: Item {
                id: chip
                height: 48
                width: Math.max(48, chipText.implicitWidth + 24)
                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Search again for “%1”").arg(modelData)
                Accessible.onPressAction: searchPage.search(modelData)
                Rectangle {
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width
                    height: 32
                    radius: 16
                    color: chipArea.pressed ? Theme.line : "#e3ebf5"
                }
                Text {
                    id: chipText
                    anchors.centerIn: parent
                    text: modelData
                    textFormat: Text.PlainText
                    font.pixelSize: 14
                    color: Theme.brand
                }
                MouseArea {
                    id: chipArea
                    anchors.fill: parent
                    onClicked: searchPage.search(modelData)
                }
            }
        }
    }

    Rectangle {
        id: banner
        objectName: "statusBanner"
        anchors.top: recentRow.bottom
        width: parent.width
        readonly property bool shown: client.status === "error" || client.status === "cancelled"
        height: shown ? Math.max(56, bannerText.implicitHeight + 20) : 0
        visible: shown
        color: client.status === "error" ? Theme.errorBack : Theme.noticeBack

        Text {
            id: bannerText
            objectName: "statusText"
            anchors.left: parent.left
            anchors.right: retryButton.left
            anchors.margins: 12
            anchors.verticalCenter: parent.verticalCenter
            text: client.message
            wrapMode: Text.WordWrap
            font.pixelSize: 15
            color: client.status === "error" ? Theme.errorText : Theme.text
        }
        TouchButton {
            id: retryButton
            objectName: "retryButton"
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Retry")
            onClicked: client.retry()
        }
    }

    Text {
        id: summary
        objectName: "summaryText"
        anchors.top: banner.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 12
        height: 28
        verticalAlignment: Text.AlignVCenter
        font.pixelSize: 14
        color: Theme.muted
        elide: Text.ElideRight
        textFormat: Text.PlainText
        text: client.status === "loading" && list.count === 0 ? qsTr("Searching…")
            : client.total === 1 ? qsTr("1 package for “%1”").arg(client.query)
            : client.total > 1 ? qsTr("%1 packages for “%2”").arg(client.total).arg(client.query)
            : client.status === "results" ? qsTr("No installed package matches “%1”.").arg(client.query)
            : ""
    }

    ListView {
        id: list
        objectName: "resultsList"
        anchors.top: summary.bottom
        anchors.bottom: pager.top
        width: parent.width
        clip: true
        model: client.results
        Accessible.role: Accessible.List
        Accessible.name: qsTr("Results")
        delegate: ResultDelegate {
            width: ListView.view.width
            name: model.name
            version: model.version
            summary: model.summary
            res: model.res
            onActivated: searchPage.detailsRequested(name)
        }
        ScrollIndicator.vertical: ScrollIndicator {}

        BusyIndicator {
            anchors.centerIn: parent
            running: client.busy
            visible: running
        }
    }

    Rectangle {
        id: pager
        anchors.bottom: parent.bottom
        width: parent.width
        height: 56
        color: Theme.card

        Rectangle { width: parent.width; height: 1; color: Theme.line }

        TouchButton {
            objectName: "previousButton"
            anchors.left: parent.left
            anchors.leftMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("‹ Previous")
            enabled: client.page > 0 && !client.busy
            onClicked: client.previousPage()
        }
        Text {
            objectName: "pageText"
            anchors.centerIn: parent
            text: client.pages > 0 ? qsTr("Page %1 of %2").arg(client.page + 1).arg(client.pages) : ""
            font.pixelSize: 14
            color: Theme.muted
        }
        TouchButton {
            objectName: "nextButton"
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Next ›")
            enabled: client.page + 1 < client.pages && !client.busy
            onClicked: client.nextPage()
        }
    }

    Component.onCompleted: search(Config.defaultQuery)
}
