import QtQuick 2.15
import QtQuick.Controls 2.15
import "Config.js" as Config

// The start page: query field, recent queries, results with thumbnails that go on as the
// list is scrolled, and a banner for every failure. It runs the default query at once, and
// a query as it is typed.
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
    // A first page of results is in view with every thumbnail loaded: the next frame shows it.
    signal resultsShown(int count)
    // An outcome took the focus, so that a screen reader says it: text is what it reads.
    signal announced(string text)

    // A search the user asked for (Enter, Search, a recent query, Retry): it is remembered
    // once it finds something, and its outcome takes the focus, so that a screen reader
    // says it and the on-screen keyboard goes away.
    function search(q) {
        _send(q, true)
    }

    function _send(q, remember) {
        typing.stop()
        recent.save()
        field.text = q
        // Nothing to look for: Enter on an empty field sends nothing.
        if (field.text.trim() === "")
            return
        _explicit = true
        _remember = remember
        _typedSince = false
        // What the field holds: never more than the service takes.
        client.search(field.text)
    }

    function retry() {
        _explicit = true
        _remember = true
        _typedSince = false
        client.retry()
    }

    // "More results": its rows take the focus as they arrive, since the button they push
    // down leaves the screen.
    function loadMore() {
        _explicit = true
        _typedSince = false
        client.loadMore()
    }

    // Back from a package's details: the row that opened it takes the focus again.
    function restoreFocus() {
        if (_openedRow < 0 || _openedRow >= list.count)
            return
        _positioning = true
        _focusRow(_openedRow)
        _positioning = false
    }

    function _focusRow(index) {
        if (index >= list.count)
            return null
        list.positionViewAtIndex(index, ListView.Contain)
        var row = list.itemAtIndex(index)
        if (row)
            row.forceActiveFocus()
        return row
    }

    // Tab goes through the rows in their order (the list makes and reuses rows in any order):
    // past the last one to More results, or round to the top.
    function _tabFrom(index, forward) {
        var next = index + (forward ? 1 : -1)
        if (next >= 0 && next < list.count)
            _focusRow(next)
        else if (forward && _moreButton && _moreButton.visible)
            _moreButton.forceActiveFocus()
        else if (forward)
            aboutButton.forceActiveFocus()
        else if (list.nextItemInFocusChain(false))
            list.nextItemInFocusChain(false).forceActiveFocus()
    }

    // Once the rows in view have their thumbnails (a failed one shows its letter), the
    // results are shown, and only then is the query written: that flush must not stand
    // between the answer and the frame that shows it.
    function _checkShown() {
        if (!_showPending)
            return
        var rows = list.contentItem.children
        for (var i = 0; i < rows.length; ++i) {
            var row = rows[i]
            if (row.thumbnail && row.visible && row.y < list.contentY + list.height
                    && row.thumbnail.status === Image.Loading)
                return
        }
        _showPending = false
        resultsShown(client.results.count)
        recent.save()
    }

    // An item, or the row of that index once the list has made it.
    function _announce(item, row) {
        _announced = item
        _announcedRow = row === undefined ? -1 : row
        announcer.restart()
    }

    // Once the page has laid out what arrived (a banner becomes visible only then); not
    // from under a user who has typed since.
    Timer {
        id: announcer
        interval: 0
        onTriggered: {
            var item = searchPage._announced
            var row = searchPage._announcedRow
            searchPage._announced = null
            searchPage._announcedRow = -1
            if (searchPage._typedSince || (!item && row < 0))
                return
            // Off the field, the on-screen keyboard goes too.
            field.focus = false
            if (row >= 0) {
                searchPage._positioning = true
                item = searchPage._focusRow(row)
                searchPage._positioning = false
            } else {
                // The same outcome again (a Retry that fails alike) is said again: a screen
                // reader speaks as the focus moves.
                if (item.activeFocus)
                    searchPage.forceActiveFocus()
                item.forceActiveFocus()
            }
            if (item)
                searchPage.announced(row >= 0 ? item.spokenText : item.text)
        }
    }
    // The list holds what arrived only once it has laid it out.
    Timer {
        id: laidOut
        interval: 0
        onTriggered: searchPage._checkShown()
    }

    // As the end of the list nears, the next page is asked for: only as the user scrolls,
    // never as the page itself moves the list. Rows differ in height, and the list's content
    // then starts at originY, not 0.
    function _nearEnd() {
        if (_positioning || !client.canLoadMore)
            return
        if (list.atYEnd || list.originY + list.contentHeight - list.contentY - list.height < 2 * 76) {
            _explicit = false
            client.loadMore()
        }
    }

    property Item _announced: null
    property int _announcedRow: -1
    property int _openedRow: -1
    property Item _moreButton: null
    property bool _explicit: false
    property bool _remember: false
    property bool _positioning: false
    property bool _typedSince: false
    property bool _showPending: false

    SearchClient {
        id: client
        onAnswered: function (count) {
            if (client.page > 0) {
                if (searchPage._explicit && count > 0)
                    searchPage._announce(null, client.results.count - count)
                laidOut.restart()
                return
            }
            // Written once the results are on screen, when there are some to draw.
            if (searchPage._remember && total > 0)
                recent.add(query, count > 0)
            searchPage._openedRow = -1
            searchPage._positioning = true
            list.positionViewAtBeginning()
            searchPage._positioning = false
            searchPage._showPending = count > 0
            if (searchPage._explicit)
                searchPage._announce(total > 0 ? summary : emptyText)
            laidOut.restart()
        }
        onStatusChanged: {
            if ((status === "error" || status === "cancelled") && searchPage._explicit)
                searchPage._announce(bannerText)
        }
    }

    RecentQueries { id: recent }

    Timer {
        id: typing
        interval: Config.typingDelay
        onTriggered: {
            searchPage._explicit = false
            searchPage._remember = false
            client.search(field.text)
        }
    }


    Rectangle {
        id: header
        width: parent.width
        height: 56
        color: Theme.brand

        // Text, not Label: the toolkit's Label makes itself static text once a screen reader
        // is about, a heading no more.
        Text {
            id: title
            anchors.left: parent.left
            anchors.leftMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Zelko")
            font.pixelSize: 26
            font.bold: true
            color: "white"
            Accessible.role: Accessible.Heading
            Accessible.name: text
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
        // the title bar, between the name and About, where that leaves it half the width.
        readonly property real headerRoom: aboutButton.x - title.x - title.width - 4
        readonly property bool inHeader: searchPage.height < 480
                                         && headerRoom - actions.width - 36 >= searchPage.width / 2
        anchors.top: inHeader ? header.top : header.bottom
        x: inHeader ? header.x + title.x + title.width + 4 : 0
        width: inHeader ? headerRoom : parent.width
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
            placeholderTextColor: Theme.muted
            font.pixelSize: 18
            selectByMouse: true
            maximumLength: Config.maxQueryLength
            // The query is sent as typed: a phone's keyboard must neither complete nor
            // capitalise it (package names are lower case).
            inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
            Accessible.name: qsTr("Search query")
            Accessible.searchEdit: true
            onTextEdited: {
                searchPage._typedSince = true
                if (text.trim() !== "")
                    typing.restart()
                else
                    typing.stop()
            }
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

        Label {
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
                activeFocusOnTab: true
                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Search again for “%1”").arg(modelData)
                Accessible.onPressAction: searchPage.search(modelData)
                Keys.onReturnPressed: searchPage.search(modelData)
                Keys.onEnterPressed: searchPage.search(modelData)
                Keys.onSpacePressed: searchPage.search(modelData)
                onActiveFocusChanged: if (activeFocus) ListView.view.positionViewAtIndex(index, ListView.Contain)
                Rectangle {
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width
                    height: 32
                    radius: 16
                    color: chipArea.pressed ? Theme.line : Theme.chip
                    border.width: chip.activeFocus ? 2 : 0
                    border.color: Theme.link
                }
                Text {
                    id: chipText
                    anchors.centerIn: parent
                    text: modelData
                    textFormat: Text.PlainText
                    font.pixelSize: 14
                    color: Theme.link
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

        Label {
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
            Accessible.role: Accessible.AlertMessage
            Accessible.focusable: true
            // The message takes the focus as it comes: Retry is next.
            KeyNavigation.tab: retryButton
        }
        TouchButton {
            id: retryButton
            objectName: "retryButton"
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Retry")
            onClicked: searchPage.retry()
        }
    }

    Label {
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
        text: field.length >= Config.maxQueryLength ? qsTr("A query has at most %1 characters.").arg(Config.maxQueryLength)
            : client.busy && !client.loadingMore ? qsTr("Searching…")
            : client.total === 1 ? qsTr("1 package for “%1”").arg(client.query)
            : client.total > 1 ? qsTr("%1 packages for “%2”").arg(client.total).arg(client.query)
            : ""
        // Nothing to say, nothing to stop at.
        Accessible.focusable: text !== ""
    }

    ListView {
        id: list
        objectName: "resultsList"
        anchors.top: summary.bottom
        anchors.bottom: parent.bottom
        width: parent.width
        clip: true
        model: client.results
        // The results of the query before are gone while a new one runs.
        visible: !client.busy || client.loadingMore
        Accessible.role: Accessible.List
        Accessible.name: qsTr("Results")
        // Tab comes into the list at the first row in view.
        activeFocusOnTab: count > 0
        onActiveFocusChanged: {
            if (activeFocus)
                searchPage._focusRow(Math.max(0, indexAt(width / 2, contentY + 1)))
        }
        delegate: ResultDelegate {
            id: resultRow
            width: ListView.view.width
            name: model.name
            version: model.version
            summary: model.summary
            res: model.res
            onActivated: {
                searchPage._openedRow = index
                searchPage.detailsRequested(name)
            }
            onActiveFocusChanged: if (activeFocus) list.positionViewAtIndex(index, ListView.Contain)
            // Rows laid out after it may move it: the focused one stays in view.
            onYChanged: if (activeFocus && !list.moving) Qt.callLater(list.positionViewAtIndex, index, ListView.Contain)
            Keys.onTabPressed: function (event) { searchPage._tabFrom(index, !(event.modifiers & Qt.ShiftModifier)) }
            Keys.onBacktabPressed: searchPage._tabFrom(index, false)
            Connections {
                target: resultRow.thumbnail
                function onStatusChanged() { searchPage._checkShown() }
            }
        }
        onContentYChanged: searchPage._nearEnd()
        ScrollIndicator.vertical: ScrollIndicator {
            Accessible.role: Accessible.ScrollBar
            Accessible.name: qsTr("Scroll position")
        }

        // For whoever does not scroll (a keyboard, a screen reader): more at the end.
        footer: Item {
            width: list.width
            height: client.canLoadMore || client.loadingMore ? 72 : 0
            visible: height > 0
            TouchButton {
                id: moreButton
                objectName: "moreButton"
                anchors.centerIn: parent
                text: qsTr("More results")
                visible: client.canLoadMore
                onClicked: searchPage.loadMore()
                onActiveFocusChanged: if (activeFocus) list.positionViewAtEnd()
                Component.onCompleted: searchPage._moreButton = moreButton
            }
            BusyIndicator {
                anchors.centerIn: parent
                running: client.loadingMore
                visible: running
                Accessible.role: Accessible.Animation
                Accessible.name: qsTr("Loading more results")
            }
        }
    }

    BusyIndicator {
        anchors.centerIn: list
        running: client.busy && !client.loadingMore
        visible: running
        Accessible.role: Accessible.Animation
        Accessible.name: qsTr("Searching…")
    }

    Column {
        id: empty
        anchors.top: summary.bottom
        anchors.topMargin: 24
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width - 48
        spacing: 8
        visible: client.status === "results" && client.total === 0

        Label {
            id: emptyText
            objectName: "emptyText"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("No installed package matches “%1”.").arg(client.query)
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pixelSize: 20
            color: Theme.text
            Accessible.focusable: true
        }
        Label {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("Check the spelling, or search for a part of the name.")
            wrapMode: Text.Wrap
            font.pixelSize: 15
            color: Theme.muted
        }
    }

    // Said, not remembered: Recent holds what the user searched.
    Component.onCompleted: _send(Config.defaultQuery, false)
}
