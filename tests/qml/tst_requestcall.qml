import QtQuick 2.15
import QtTest 1.2
import Zelko 1.0
import "../../qml/Zelko"
import "../../qml/Zelko/Protocol.js" as Protocol

// The screens' RequestCall on its real Request element, against the real search service:
// one outcome per call, whatever the element signals on the way.
TestCase {
    id: testCase
    name: "RequestCall"

    Component { id: callComponent; RequestCall {} }
    Request { id: signer }

    // What the call delivered, and everything its element signalled, in order.
    property var outcomes: []
    property var emitted: []

    function initTestCase() {
        if (!referenceService.startAsService())
            fail("the reference service did not start: " + referenceService.log)
    }

    function newCall() {
        var call = createTemporaryObject(callComponent, testCase)
        outcomes = []
        emitted = []
        call.succeeded.connect(function (type, json) {
            outcomes.push({ outcome: "succeeded", type: type, json: json })
        })
        call.failed.connect(function (code, fromService) {
            outcomes.push({ outcome: "failed", code: code, fromService: fromService })
        })
        call.request.error.connect(function (errCode, key) {
            emitted.push({ signal: "error", errCode: errCode, key: key, waitedFor: call.pendingKey })
        })
        call.request.response.connect(function (type, error, json, key) {
            emitted.push({ signal: "response", error: error, key: key, waitedFor: call.pendingKey })
        })
        return call
    }

    // The query text of a row: { service, text, badSign }.
    function query(row) {
        var sign = row.badSign ? function () { return "00000000000000000000000000000000" }
                               : function (text) { return signer.getEncryptString(text) }
        return row.service === Protocol.Details ? Protocol.detailsQuery(row.text, sign)
                                                : Protocol.searchQuery(row.text, 0, 3, sign)
    }

    function signalsFor(key) {
        return emitted.filter(function (s) { return s.key === key })
    }

    // The element has sent the last signal of the request key: a response, or an
    // error other than the one a response follows.
    function waitForEnd(key) {
        tryVerify(function () {
            return signalsFor(key).some(function (s) {
                return s.signal === "response" || s.errCode !== Request.Error
            })
        }, 20000, "request " + key + " did not end")
    }

    // Exactly one outcome, also once the event loop has run again.
    function waitForOneOutcome(call) {
        tryVerify(function () { return outcomes.length > 0 }, 20000, "no outcome")
        wait(50)
        compare(outcomes.length, 1, JSON.stringify(outcomes))
        verify(!call.running)
        compare(call.pendingKey, 0)
        return outcomes[0]
    }

    function test_oneOutcome_data() {
        return [
            { tag: "search answered", service: Protocol.Search, text: "zlib",
              outcome: "succeeded", type: Protocol.Search },
            { tag: "details answered", service: Protocol.Details, text: "dpkg",
              outcome: "succeeded", type: Protocol.Details },
            { tag: "bad signature: error 2, then the response with the service's code",
              service: Protocol.Search, text: "zlib", badSign: true,
              outcome: "failed", code: 2, fromService: true, pair: true },
            { tag: "package not installed: error 2, then the response with the service's code",
              service: Protocol.Details, text: "no-such-package-anywhere",
              outcome: "failed", code: 4, fromService: true, pair: true },
            { tag: "query the service cannot read: error 2, then the response with the service's code",
              service: Protocol.Search, text: "x".repeat(300),
              outcome: "failed", code: 1, fromService: true, pair: true },
            { tag: "body over the size limit: an error alone",
              service: Protocol.Search, text: "x".repeat(9000),
              outcome: "failed", code: Request.OtherError, fromService: false, pair: false },
        ]
    }

    function test_oneOutcome(data) {
        var call = newCall()
        var key = call.start(query(data))
        verify(key !== 0)
        compare(call.pendingKey, key)
        verify(call.running)
        var got = waitForOneOutcome(call)
        compare(got.outcome, data.outcome)
        if (data.outcome === "succeeded") {
            compare(got.type, data.type)
            var answer = Protocol.parseAnswer(got.json, data.type)
            verify(answer !== null, got.json)
            compare(data.type === Protocol.Search ? answer.q : answer.name, data.text)
            compare(signalsFor(key).length, 1)
        } else {
            compare(got.code, data.code)
            compare(got.fromService, data.fromService)
        }
        if (data.pair) {
            // What the call made one outcome of.
            var seen = signalsFor(key)
            compare(seen.length, 2)
            compare(seen[0].signal, "error")
            compare(seen[0].errCode, Request.Error)
            compare(seen[1].signal, "response")
            compare(seen[1].error, data.code)
        }
    }

    // Frames the reference service never sends: the test emits the element's signals
    // for the call's key itself, in the same turn as the element would, before the
    // key's real request ends.
    function test_undecodedAnswer_data() {
        return [
            { tag: "error 2, then a response without the service's code", response: true, error: 0,
              code: Request.Error, fromService: false },
            { tag: "error 2, then a response with the service's code", response: true, error: 5,
              code: 5, fromService: true },
            { tag: "error 2 alone: an answer shorter than a frame header", response: false,
              code: Request.Error, fromService: false },
        ]
    }

    function test_undecodedAnswer(data) {
        var call = newCall()
        var key = call.start(query({ service: Protocol.Search, text: "zlib" }))
        call.request.error(Request.Error, key)
        if (data.response) {
            call.request.response(Protocol.Search, data.error, "", key)
        } else {
            // Nothing more comes for the key, as after a frame too short to decode:
            // its real request ends here, in an error the call does not take.
            call.request.cancel(key)
            compare(outcomes.length, 0, "a response may still follow")
        }
        var got = waitForOneOutcome(call)
        compare(got.outcome, "failed")
        compare(got.code, data.code)
        compare(got.fromService, data.fromService)
        // The end of the key's real request comes too late and is ignored.
        waitForEnd(key)
        wait(50)
        compare(outcomes.length, 1, JSON.stringify(outcomes))
    }

    function test_otherKeysAreIgnored_data() {
        return [
            { tag: "superseded call answered well", first: { service: Protocol.Search, text: "lib" } },
            { tag: "superseded call with a bad signature",
              first: { service: Protocol.Search, text: "lib", badSign: true } },
            { tag: "superseded details call", first: { service: Protocol.Details, text: "dpkg" } },
            { tag: "superseded call whose signals are replayed while the next one waits",
              first: { service: Protocol.Search, text: "lib" }, replay: true },
            { tag: "another caller's request on the same element, answered well",
              first: { service: Protocol.Search, text: "lib" }, foreign: true },
            { tag: "another caller's request on the same element, with a bad signature",
              first: { service: Protocol.Search, text: "lib", badSign: true }, foreign: true },
        ]
    }

    function test_otherKeysAreIgnored(data) {
        var call = newCall()
        var first = data.foreign ? call.request.request(query(data.first)) : call.start(query(data.first))
        var second = call.start(query({ service: Protocol.Search, text: "zlib" }))
        verify(second !== first)
        compare(call.pendingKey, second)
        if (data.replay) {
            call.request.error(Request.Error, first)
            call.request.response(Protocol.Search, 2, "", first)
            call.request.response(Protocol.Search, 0, "{}", first)
            call.request.error(Request.Canceled, first)
        }
        var got = waitForOneOutcome(call)
        compare(got.outcome, "succeeded", JSON.stringify(got))
        compare(Protocol.parseAnswer(got.json, Protocol.Search).q, "zlib")
        // The first key did end, with signals the call did not take.
        waitForEnd(first)
        if (!data.foreign) {
            var cancelled = signalsFor(first).filter(function (s) { return s.errCode === Request.Canceled })
            verify(cancelled.length > 0, "a superseded call is cancelled: " + JSON.stringify(signalsFor(first)))
        }
        if (data.replay)
            verify(signalsFor(first).filter(function (s) { return s.waitedFor === second }).length >= 4)
        wait(50)
        compare(outcomes.length, 1, JSON.stringify(outcomes))
    }

    function test_cancel_data() {
        return [
            { tag: "cancel", cancels: 1, outcome: "failed" },
            { tag: "cancel twice", cancels: 2, outcome: "failed" },
            { tag: "abandon", abandon: true, outcome: "none" },
            { tag: "cancel after the outcome", afterOutcome: true, cancels: 1, outcome: "succeeded" },
        ]
    }

    function test_cancel(data) {
        var call = newCall()
        var key = call.start(query({ service: Protocol.Search, text: "zlib" }))
        if (data.afterOutcome)
            tryVerify(function () { return outcomes.length > 0 }, 20000, "no outcome")
        for (var i = 0; i < (data.cancels || 0); ++i)
            call.cancel()
        if (data.abandon) {
            call.abandon()
            verify(!call.running)
        }
        waitForEnd(key)
        if (data.outcome === "none") {
            wait(50)
            compare(outcomes.length, 0, JSON.stringify(outcomes))
            compare(signalsFor(key)[0].errCode, Request.Canceled)
            return
        }
        var got = waitForOneOutcome(call)
        compare(got.outcome, data.outcome)
        if (data.outcome === "failed") {
            compare(got.code, Request.Canceled)
            compare(got.fromService, false)
        }
    }

    function test_cancelWithoutCallDoesNothing() {
        var call = newCall()
        call.cancel()
        call.abandon()
        wait(50)
        compare(outcomes.length, 0)
        compare(emitted.length, 0)
        verify(!call.running)
    }
}
