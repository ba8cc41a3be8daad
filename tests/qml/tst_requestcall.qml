import QtQuick 2.15
import QtTest 1.2
import Zelko 1.0
import "../../qml/Zelko"
import "../../qml/Zelko/Protocol.js" as Protocol

// The screens' RequestCall on its real Request element, against the real search service:
// one outcome per call, read from the element's finished().
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
        call.request.finished.connect(function (key, outcome) {
            emitted.push({ signal: "finished", key: key, outcome: outcome, waitedFor: call.pendingKey })
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

    // The element has sent the last signal of the request key (count finished(), where the
    // test emitted some itself).
    function waitForEnd(key, count) {
        tryVerify(function () {
            return signalsFor(key).filter(function (s) { return s.signal === "finished" }).length >= (count || 1)
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
            { tag: "search with %1 in it: signed as typed", service: Protocol.Search, text: "50%1 %2",
              outcome: "succeeded", type: Protocol.Search },
            { tag: "bad signature: error 2, then the response with the service's code",
              service: Protocol.Search, text: "zlib", badSign: true,
              outcome: "failed", code: 2, fromService: true, pair: true },
            { tag: "package not installed: error 2, then the response with the service's code",
              service: Protocol.Details, text: "no-such-package-anywhere",
              outcome: "failed", code: 4, fromService: true, pair: true },
            { tag: "query the service cannot read: error 2, then the response with the service's code",
              service: Protocol.Search, text: "x".repeat(300),
              outcome: "failed", code: 1, fromService: true, pair: true },
            { tag: "body over the size limit: an error alone, with the status, sent once",
              service: Protocol.Search, text: "x".repeat(5 * 1024 * 1024),
              outcome: "failed", code: Request.OtherError, fromService: false, pair: false, status: 413 },
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
            compare(signalsFor(key).length, 2)
        } else {
            compare(got.code, data.code)
            compare(got.fromService, data.fromService)
        }
        if (data.pair) {
            // The element's signals for the refusal, its finished() last.
            var seen = signalsFor(key)
            compare(seen.length, 3)
            compare(seen[0].signal, "error")
            compare(seen[0].errCode, Request.Error)
            compare(seen[1].signal, "response")
            compare(seen[1].error, data.code)
        }
        if (data.status) {
            var end = signalsFor(key).pop().outcome
            compare(end.httpStatus, data.status, end.message)
            verify(end.message.indexOf("HTTP " + data.status) >= 0, end.message)
            tryVerify(function () { return referenceService.log.split(" " + data.status + " ").length === 2 },
                      5000, referenceService.log)
        }
    }

    // What the call makes of each kind of finished(): the element's own finished() for
    // the call's key is emitted here, as the element would emit it.
    function test_outcomeMapping_data() {
        return [
            { tag: "decoded", outcome: { ok: true, code: 0, serviceError: 0, type: 1, json: "{}" },
              got: "succeeded", type: 1 },
            { tag: "refused by the service", outcome: { ok: false, code: 0, serviceError: 5, type: 1, json: "" },
              got: "failed", code: 5, fromService: true },
            { tag: "not decoded", outcome: { ok: false, code: 2, serviceError: 0, type: 0, json: "" },
              got: "failed", code: Request.Error, fromService: false },
            { tag: "timed out", outcome: { ok: false, code: 1, serviceError: 0, type: 0, json: "" },
              got: "failed", code: Request.TimeOut, fromService: false },
        ]
    }

    function test_outcomeMapping(data) {
        var call = newCall()
        var key = call.start(query({ service: Protocol.Search, text: "zlib" }))
        call.request.finished(key, data.outcome)
        var got = waitForOneOutcome(call)
        compare(got.outcome, data.got)
        if (data.got === "succeeded") {
            compare(got.type, data.type)
        } else {
            compare(got.code, data.code)
            compare(got.fromService, data.fromService)
        }
        // The end of the key's real request comes too late and is ignored.
        waitForEnd(key, 2)
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
            call.request.finished(first, { ok: false, code: 0, serviceError: 2, type: 1, json: "" })
            call.request.finished(first, { ok: true, code: 0, serviceError: 0, type: 1, json: "{}" })
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
            verify(signalsFor(first).filter(function (s) { return s.waitedFor === second }).length >= 2)
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
