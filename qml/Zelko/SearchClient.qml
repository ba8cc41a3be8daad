import QtQuick 2.15
import Zelko 1.0
import "Config.js" as Config
import "Protocol.js" as Protocol

// One search at a time: sends signed queries and turns the Request element's
// signals for the current key into a state the page shows. Pages of a query are
// appended to its results as they are asked for (loadMore). Keeps the results on
// screen when a later request fails.
Item {
    id: client
    visible: false

    // "idle", "loading", "results", "error" or "cancelled"
    property string status: "idle"
    readonly property bool busy: status === "loading"
    // The request in flight asks for a further page of the results shown.
    readonly property bool loadingMore: busy && _wantedPage > 0
    readonly property bool canLoadMore: status === "results" && page + 1 < pages
    property string message: ""
    // errCode of the Request element, or the service's error byte when serviceError.
    property int errorCode: 0
    property bool serviceError: false

    // The results on screen: pages 0 to page of query.
    property string query: ""
    property int page: 0
    property int pages: 0
    property int total: 0
    property int pageSize: Config.pageSize
    readonly property alias results: resultModel

    // The element the queries go through: its url and time limit.
    readonly property alias request: call.request

    // A page arrived: count results of it, appended when it is not the first.
    signal answered(int count)
    // A request left for the service: page of query.
    signal asked(string query, int page)

    property string _wantedQuery: ""
    property int _wantedPage: 0

    ListModel { id: resultModel }

    RequestCall {
        id: call
        onSucceeded: function (type, json) { client._show(json) }
        onFailed: function (code, fromService) { client._fail(code, fromService) }
    }

    // A newer search replaces one in flight without showing it as cancelled.
    function search(q) {
        _ask(q, 0)
    }

    function loadMore() {
        if (canLoadMore)
            _ask(query, page + 1)
    }

    function retry() { _ask(_wantedQuery, _wantedPage) }

    function cancel() { call.cancel() }

    function _ask(q, pageIndex) {
        call.abandon()
        _wantedQuery = q
        _wantedPage = pageIndex
        var sign = function (text) { return call.request.getEncryptString(text) }
        status = "loading"
        message = ""
        asked(_wantedQuery, _wantedPage)
        call.start(Protocol.searchQuery(_wantedQuery, _wantedPage, pageSize, sign))
    }

    function _fail(code, fromService) {
        serviceError = fromService
        errorCode = code
        message = Protocol.failureMessage(code, fromService)
        status = !fromService && code === Request.Canceled ? "cancelled" : "error"
    }

    function _show(json) {
        var answer = Protocol.parseAnswer(json, Protocol.Search)
        if (!answer || !Array.isArray(answer.results)) {
            _fail(Request.Error, false)
            return
        }
        if (_wantedPage === 0)
            resultModel.clear()
        for (var i = 0; i < answer.results.length; ++i) {
            var r = answer.results[i]
            resultModel.append({ name: String(r.name), version: String(r.version || ""),
                                 summary: String(r.summary || ""), section: String(r.section || ""),
                                 res: String(r.res || "") })
        }
        query = String(answer.q)
        page = answer.page
        pages = answer.pages
        total = answer.total
        status = "results"
        answered(answer.results.length)
    }
}
