import QtQuick 2.15
import Zelko 1.0
import "Config.js" as Config
import "Protocol.js" as Protocol

// One search at a time: sends signed queries and turns the Request element's
// signals for the current key into a state the page shows. Keeps the last
// results on screen when a later request fails.
Item {
    id: client
    visible: false

    // "idle", "loading", "results", "error" or "cancelled"
    property string status: "idle"
    readonly property bool busy: status === "loading"
    property string message: ""
    // errCode of the Request element, or the service's error byte when serviceError.
    property int errorCode: 0
    property bool serviceError: false

    // The page on screen.
    property string query: ""
    property int page: 0
    property int pages: 0
    property int total: 0
    property int pageSize: Config.pageSize
    readonly property alias results: resultModel

    // Replaces the signing rule; tests use it to send a wrong signature.
    property var signer: null

    signal answered(int count)

    property string _wantedQuery: ""
    property int _wantedPage: 0
    property int _key: 0
    // A request whose frame failed to decode; the Request element still sends its response.
    property int _failedKey: 0

    ListModel { id: resultModel }

    Request {
        id: request
        onError: client._onError(errCode, key)
        onResponse: client._onResponse(type, error, json, key)
    }

    function search(q, pageIndex) {
        _abandon()
        _wantedQuery = q
        _wantedPage = Math.max(0, pageIndex || 0)
        var sign = signer ? signer : function (text) { return request.getEncryptString(text) }
        status = "loading"
        message = ""
        _key = request.request(Protocol.searchQuery(_wantedQuery, _wantedPage, pageSize, sign))
    }

    function retry() { search(_wantedQuery, _wantedPage) }
    function nextPage() { if (page + 1 < pages) search(query, page + 1) }
    function previousPage() { if (page > 0) search(query, page - 1) }

    function cancel() {
        if (_key !== 0)
            request.cancel(_key)
    }

    // A newer search replaces one in flight without showing it as cancelled.
    function _abandon() {
        var key = _key
        _key = 0
        _failedKey = 0
        if (key !== 0)
            request.cancel(key)
    }

    function _fail(fromService, code) {
        serviceError = fromService
        errorCode = code
        message = fromService ? Protocol.serviceMessage(code) : Protocol.transportMessage(code)
        status = !fromService && code === Request.Canceled ? "cancelled" : "error"
    }

    function _onError(errCode, key) {
        if (key !== _key)
            return
        _key = 0
        _failedKey = errCode === Request.Error ? key : 0
        _fail(false, errCode)
    }

    function _onResponse(type, error, json, key) {
        if (key === _failedKey) {
            // The frame did not decode; a non-zero error byte says why.
            _failedKey = 0
            if (error !== 0)
                _fail(true, error)
            return
        }
        if (key !== _key)
            return
        _key = 0
        if (error !== 0) {
            _fail(true, error)
            return
        }
        var answer = Protocol.parseAnswer(json, Protocol.Search)
        if (!answer || !Array.isArray(answer.results)) {
            _fail(false, 2)
            return
        }
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
        answered(resultModel.count)
    }
}
