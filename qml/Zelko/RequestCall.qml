import QtQuick 2.15
import Zelko 1.0

// One service call at a time on a Request element of its own, ending in exactly
// one outcome:
//   succeeded(type, json)      the answer decoded and the service reported no error;
//   failed(code, fromService)  fromService: code is the service's error byte
//                              (Protocol.serviceMessage); otherwise it is the
//                              element's errCode (Request.TimeOut, Request.Error,
//                              Request.Canceled, Request.DataError, Request.OtherError).
// An answer that does not decode reaches the element as error(Request.Error) and,
// in the same turn, a response for the same key: the call reads the pair as one
// failure, the service's when that response carries its error byte.
// start() drops the call in flight, as abandon() does: no outcome, its signals
// ignored. cancel() ends it with failed(Request.Canceled, false).
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
    // The call's answer did not decode; a response may still follow in this turn.
    property int _undecodedKey: 0

    Request {
        id: request
        onError: function (errCode, key) { call._onError(errCode, key) }
        onResponse: function (type, error, json, key) { call._onResponse(type, error, json, key) }
    }

    // Posts the query text; returns its key.
    function start(text) {
        abandon()
        _key = request.request(text)
        return _key
    }

    function cancel() {
        request.cancel(_key)
    }

    function abandon() {
        var key = _key
        _end()
        request.cancel(key)
    }

    function _end() {
        _key = 0
        _undecodedKey = 0
    }

    function _onError(errCode, key) {
        if (key !== _key || key === _undecodedKey)
            return
        if (errCode === Request.Error) {
            _undecodedKey = key
            Qt.callLater(_undecodedAlone)
            return
        }
        _end()
        failed(errCode, false)
    }

    // An answer too short to decode comes without a response.
    function _undecodedAlone() {
        if (_undecodedKey === 0 || _undecodedKey !== _key)
            return
        _end()
        failed(Request.Error, false)
    }

    function _onResponse(type, error, json, key) {
        if (key !== _key)
            return
        var undecoded = key === _undecodedKey
        _end()
        if (error !== 0)
            failed(error, true)
        else if (undecoded)
            failed(Request.Error, false)
        else
            succeeded(type, json)
    }

    Component.onDestruction: abandon()
}
