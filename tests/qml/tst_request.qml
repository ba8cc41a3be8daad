import QtQuick 2.15
import QtTest 1.2
import Zelko 1.0

TestCase {
    name: "Request"

    Request { id: request }
    SignalSpy { id: sslSpy; target: request; signalName: "sslResponse" }
    SignalSpy { id: errorSpy; target: request; signalName: "error" }
    SignalSpy { id: responseSpy; target: request; signalName: "response" }

    function init() {
        sslSpy.clear()
        errorSpy.clear()
        responseSpy.clear()
    }

    function test_httpsAnswerArrivesAsText() {
        var key = request.requestHttps('{"text":"café"}', tlsUrl)
        verify(key !== 0)
        sslSpy.wait(20000)
        compare(sslSpy.count, 1)
        compare(sslSpy.signalArguments[0][0], '{"feedback":"thanks"}')
        compare(sslSpy.signalArguments[0][1], key)
        compare(JSON.parse(sslSpy.signalArguments[0][0]).feedback, "thanks")
        compare(errorSpy.count, 0)
    }

    function test_handlersSeeParameterNames() {
        var seen = null
        var handler = function(json, key) { seen = { json: json, key: key } }
        request.sslResponse.connect(handler)
        var key = request.requestHttps("ping ü", echoUrl)
        sslSpy.wait(20000)
        request.sslResponse.disconnect(handler)
        compare(seen.json, "ping ü")
        compare(seen.key, key)
    }

    function test_cancelGivesCode3() {
        var key = request.requestHttps("never answered", stallUrl)
        request.cancel(key)
        tryCompare(errorSpy, "count", 1, 20000)
        compare(errorSpy.signalArguments[0][0], 3)
        compare(errorSpy.signalArguments[0][1], key)
        request.cancel(0)
        request.cancel(key)
        wait(0)
        compare(errorSpy.count, 1)
        compare(sslSpy.count, 0)
        compare(responseSpy.count, 0)
    }

    function test_keysDiffer() {
        var a = request.requestHttps("a", echoUrl)
        var b = request.requestHttps("b", echoUrl)
        verify(a !== b)
        tryCompare(sslSpy, "count", 2, 20000)
    }

    function test_urlEncode_data() {
        return [
            { tag: "space", input: "a b", output: "a%20b" },
            { tag: "ampersand", input: "x&y", output: "x%26y" },
            { tag: "e acute", input: "\u00e9", output: "%C3%A9" },
            { tag: "unreserved", input: "Az09-._~", output: "Az09-._~" },
        ]
    }

    function test_urlEncode(data) {
        compare(request.urlEncode(data.input), data.output)
    }

    function test_signing() {
        compare(request.getKey().length, 80)
        verify(/^[0-9a-f]{32}$/.test(request.getEncryptString("query")))
        compare(request.getEncryptParam("", ""), "00000000")
        compare(request.getEncryptParam("ab", "k").length, 12)
    }
}
