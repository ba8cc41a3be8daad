import QtQuick 2.15
import Zelko 1.0
import "Config.js" as Config

// One service call at a time on a Request element of its own, ending in exactly
// one outcome, read from the element's finished():
//   succeeded(type, json)      the answer decoded and the service reported no error;
//   failed(code, fromService)  fromService: code is the service's error byte
//                              (Protocol.serviceMessage); otherwise it is the
//                              element's code (Request.TimeOut, Request.Error,
//                              Request.Canceled, Request.DataError, Request.OtherError).
// start() drops the call in flight, as abandon() does: no outcome. cancel() ends it
// with failed(Request.Canceled, false).
Item {
    id: call
    // An Item, not a QtObject: scripts/check-qml.sh checks the Zelko types only in
    // files whose root type qmllint resolves.
    visible: false

    // The element the call posts on; sign queries with its getEncryptString.
    readonly property alias request: request
    // The request key of the call in flight; 0 when there is none.
    readonly property int pendingKey: _key
    readonly property bool running: _key !== 0

    signal succeeded(int type, string json)
    signal failed(int code, bool fromService)

    property int _key: 0

    Request {
        id: request
        onFinished: function (key, outcome) { call._onFinished(key, outcome) }
    }

    // Posts the query text; returns its key. Past the screens' limit the call fails with
    // Request.TimeOut, whatever the network does.
    function start(text) {
        abandon()
        request.timeout = Config.requestTimeout
        _key = request.request(text)
        return _key
    }

    function cancel() {
        request.cancel(_key)
    }

    function abandon() {
        var key = _key
        _key = 0
        request.cancel(key)
    }

    function _onFinished(key, outcome) {
        if (key !== _key)
            return
        _key = 0
        if (outcome.ok)
            succeeded(outcome.type, outcome.json)
        else if (outcome.serviceError !== 0)
            failed(outcome.serviceError, true)
        else
            failed(outcome.code, false)
    }

    Component.onDestruction: abandon()
}
