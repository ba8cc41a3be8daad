import QtQuick 2.15
import Zelko 1.0

// What a QML author's program does with the installed module, run by qmlscene, by
// a program with its own engine and by zelko. The suite fills in the @...@
// addresses. Every step logs "MODULE ok <step>"; the first failure logs
// "MODULE FAIL <why>", the end "MODULE PASS"; both quit (zelko has no Qt.exit).
// Every request must end in exactly one finished(), after its other signals.
Item {
    id: root
    width: 200
    height: 200

    property var steps: [checkCodes, keptSettings, checkSettings, search, showThumbnail, refused, undecodable,
                         unreachable, httpStatus, cancelOne, timeOut, pinnedPost, verifiedPost, wrongPin]
    property int step: -1
    property int pending: 0
    property string thumbnail
    // Per key: the signals seen, in order, and how many finished() came.
    property var seen: ({})
    property var ended: ({})

    function next() {
        if (step >= 0)
            console.log("MODULE ok " + steps[step].name)
        step += 1
        if (step === steps.length) {
            for (var key in seen) {
                if (ended[key] !== 1)
                    return fail("request " + key + " ended " + (ended[key] || 0) + " times: " + seen[key])
            }
            console.log("MODULE PASS")
            Qt.quit()
            return
        }
        steps[step]()
    }

    function fail(why) {
        console.log("MODULE FAIL " + (step >= 0 && step < steps.length ? steps[step].name + ": " : "") + why)
        Qt.quit()
    }

    function expect(condition, why) {
        if (!condition)
            fail(why)
        return condition
    }

    function note(key, what) {
        seen[key] = (seen[key] || []).concat([what])
    }

    // The outcome's fields as one line, to compare with the expected one.
    function summary(o) {
        return [o.ok, o.code, o.serviceError, o.httpStatus].join(" ")
    }

    function searchQuery(q, pageSize, sign) {
        if (sign === undefined)
            sign = service.getEncryptString("1|" + q + "|0|" + pageSize)
        return JSON.stringify({ service: 1, q: q, page: 0, pageSize: pageSize, sign: sign })
    }

    function checkCodes() {
        if (expect(Request.TimeOut === 1 && Request.Error === 2 && Request.Canceled === 3
                   && Request.DataError === 4 && Request.OtherError === 5, "named codes")
                && expect(service.defaultUrl === "@DEFAULT_URL@" && elsewhere.url === "@DEFAULT_URL@",
                          "default url " + service.defaultUrl + ", url " + elsewhere.url))
            next()
    }

    // Lists and objects as a run before set them, as after a restart; the names stay the
    // program's (@NAMES@: organization/name).
    function keptSettings() {
        var kept = function () {
            return JSON.stringify([settings.value("kept/list"), settings.value("kept/map"),
                                   Array.isArray(settings.value("kept/list"))])
        }
        var restored = settings.contains("kept/list")
        if (restored && !expect(kept() === '[["zlib","qt"],{"on":true,"page":2,"tags":["a","b"]},true]', kept()))
            return
        settings.setValue("kept/list", ["zlib", "qt"])
        settings.setValue("kept/map", { page: 2, tags: ["a", "b"], on: true })
        settings.setValue("kept/none", undefined)
        var names = Qt.application.organization + "/" + Qt.application.name
        if (expect(settings.value("kept/none") === "", "undefined") && expect(names === "@NAMES@", names)) {
            if (restored)
                console.log("MODULE ok restored")
            next()
        }
    }

    function checkSettings() {
        var changes = []
        var watch = function (key) { changes.push(key) }
        other.valueChanged.connect(watch)
        settings.setValue("/module//check/", "stored")
        settings.setValue("module/check", "stored")
        settings.setValue("/", "nothing")
        if (expect(other.value("module/check") === "stored", "value through another element")
                && expect(other.contains("module/check") && !other.contains("/") && !other.contains(""),
                          "contains")) {
            other.remove("module")
            other.valueChanged.disconnect(watch)
            if (expect(!settings.contains("module/check") && settings.value("module/check") === "",
                       "removed group")
                    && expect(changes.join() === "module/check,module/check", "changes " + changes))
                next()
        }
    }

    function search() {
        pending = service.request(searchQuery("", 3))
    }

    function showThumbnail() {
        image.source = "image://res/" + thumbnail
    }

    function refused() {
        pending = service.request(searchQuery("zlib", 3, "00000000000000000000000000000000"))
    }

    function undecodable() {
        elsewhere.url = "@GARBAGE_URL@"
        pending = elsewhere.request(searchQuery("zlib", 3))
    }

    function unreachable() {
        elsewhere.url = "http://127.0.0.1:1/search"
        pending = elsewhere.request(searchQuery("zlib", 3))
    }

    function httpStatus() {
        elsewhere.url = "@SERVICE_URL@/nowhere"
        pending = elsewhere.request(searchQuery("zlib", 3))
    }

    function cancelOne() {
        pending = service.request(searchQuery("lib", 5))
        service.cancel(pending)
        // Its end came inside cancel().
        expect(ended[pending] === 1, "no finished within cancel")
    }

    function timeOut() {
        pending = limited.requestHttps("never answered", "@STALL_URL@")
    }

    function pinnedPost() {
        pending = pinned.requestHttps(JSON.stringify({ text: "from the module" }), "@FEEDBACK_URL@")
    }

    function verifiedPost() {
        pending = verified.requestHttps(JSON.stringify({ text: "verified" }), "@FEEDBACK_URL@")
    }

    function wrongPin() {
        pending = wronglyPinned.requestHttps(JSON.stringify({ text: "wrong pin" }), "@FEEDBACK_URL@")
    }

    // Per step: [outcome summary, signals before finished(), a text the message holds].
    property var expected: ({
        search: ["true 0 0 200", "response", "@SERVICE_URL@"],
        refused: ["false 0 2 200", "error 2,response", "service error 2, bad signature"],
        undecodable: ["false 2 0 200", "error 2,response", "could not be decoded"],
        unreachable: ["false 2 0 0", "error 2", "http://127.0.0.1:1/search"],
        httpStatus: ["false 5 0 404", "error 5", "HTTP 404"],
        cancelOne: ["false 3 0 0", "error 3", "cancelled"],
        timeOut: ["false 1 0 0", "error 1", "no answer within 300 ms"],
        pinnedPost: ["true 0 0 200", "sslResponse", "@FEEDBACK_URL@"],
        verifiedPost: ["false 5 0 0", "error 5", "@FEEDBACK_URL@"],
        wrongPin: ["false 5 0 0", "error 5", "certificate does not match the pin"]
    })

    // Every request of the scenario ends here.
    function finish(key, outcome) {
        ended[key] = (ended[key] || 0) + 1
        if (key !== pending)
            return fail("finished for key " + key + ", not " + pending)
        var name = steps[step].name
        var want = expected[name]
        if (!expect(summary(outcome) === want[0], name + ": outcome " + summary(outcome) + ": " + outcome.message)
                || !expect((seen[key] || []).join() === want[1], name + ": signals " + seen[key])
                || !expect(outcome.message.indexOf(want[2]) >= 0, name + ": message " + outcome.message))
            return
        if (name === "search") {
            var answer = JSON.parse(outcome.json)
            if (!expect(answer.results.length > 0 && answer.results[0].res.indexOf("pkg/") === 0,
                        "results with thumbnails"))
                return
            thumbnail = answer.results[0].res
        } else if (name === "pinnedPost" && !expect(JSON.parse(outcome.json).ok === true, outcome.json)) {
            return
        }
        // A canceled request ends inside cancel(): the step goes on after it returns.
        if (name === "cancelOne")
            Qt.callLater(next)
        else
            next()
    }

    Settings { id: settings }
    Settings { id: other }

    // Each element records what it signals; finished() comes last.
    component Recorded: Request {
        onError: function (errCode, key) { root.note(key, "error " + errCode) }
        onResponse: function (type, error, json, key) { root.note(key, "response") }
        onSslResponse: function (json, key) { root.note(key, "sslResponse") }
        onFinished: function (key, outcome) { root.finish(key, outcome) }
    }

    Recorded { id: service; url: "@SERVICE_URL@" }
    Recorded { id: elsewhere }
    Recorded { id: limited; timeout: 300 }
    Recorded { id: pinned; pinnedCertificate: "@CERT_FILE@" }
    Recorded { id: verified; verifyPeer: true }
    Recorded {
        id: wronglyPinned
        pinnedCertificate: "00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff"
    }

    Image {
        id: image
        cache: false
        onStatusChanged: {
            if (status === Image.Ready && expect(sourceSize.width === 48, "thumbnail size " + sourceSize))
                next()
            else if (status === Image.Error)
                fail("thumbnail " + source)
        }
    }

    Timer {
        interval: 60000
        running: true
        onTriggered: root.fail("no end after a minute")
    }

    Component.onCompleted: next()
}
