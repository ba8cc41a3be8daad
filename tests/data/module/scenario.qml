import QtQuick 2.15
import Zelko 1.0

// What a QML author's program does with the installed module, run by qmlscene, by
// a program with its own engine and by zelko. The suite fills in the @...@
// addresses. Every step logs "MODULE ok <step>"; the first failure logs
// "MODULE FAIL <why>", the end "MODULE PASS"; both quit (zelko has no Qt.exit).
Item {
    id: root
    width: 200
    height: 200

    property var steps: [checkCodes, checkSettings, search, showThumbnail, cancelOne, timeOut,
                         pinnedPost, verifiedPost, wrongPin]
    property int step: -1
    property int pending: 0
    property string thumbnail

    function next() {
        if (step >= 0)
            console.log("MODULE ok " + steps[step].name)
        step += 1
        if (step === steps.length) {
            console.log("MODULE PASS")
            Qt.quit()
            return
        }
        steps[step]()
    }

    function fail(why) {
        console.log("MODULE FAIL " + (step >= 0 ? steps[step].name + ": " : "") + why)
        Qt.quit()
    }

    function expect(condition, why) {
        if (!condition)
            fail(why)
        return condition
    }

    function searchQuery(q, pageSize) {
        var sign = service.getEncryptString("1|" + q + "|0|" + pageSize)
        return JSON.stringify({ service: 1, q: q, page: 0, pageSize: pageSize, sign: sign })
    }

    function checkCodes() {
        if (expect(Request.TimeOut === 1 && Request.Error === 2 && Request.Canceled === 3
                   && Request.DataError === 4 && Request.OtherError === 5, "named codes"))
            next()
    }

    function checkSettings() {
        settings.setValue("module/check", "stored")
        if (expect(other.value("module/check") === "stored", "value through another element")
                && expect(other.contains("module/check"), "contains")) {
            other.remove("module")
            if (expect(!settings.contains("module/check") && settings.value("module/check") === "",
                       "removed group"))
                next()
        }
    }

    function search() {
        pending = service.request(searchQuery("", 3))
    }

    function showThumbnail() {
        image.source = "image://res/" + thumbnail
    }

    function cancelOne() {
        pending = service.request(searchQuery("lib", 5))
        service.cancel(pending)
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

    Settings { id: settings }
    Settings { id: other }

    Request {
        id: service
        onResponse: function (type, error, json, key) {
            if (!expect(key === pending && error === 0, "response " + error + " for key " + key))
                return
            var answer = JSON.parse(json)
            if (expect(answer.results.length > 0 && answer.results[0].res.indexOf("pkg/") === 0,
                       "results with thumbnails")) {
                thumbnail = answer.results[0].res
                next()
            }
        }
        onError: function (errCode, key) {
            if (expect(key === pending && errCode === Request.Canceled, "error " + errCode))
                next()
        }
    }

    Request {
        id: limited
        timeout: 300
        onSslResponse: fail("an answer from a server that never answers")
        onError: function (errCode, key) {
            if (expect(key === pending && errCode === Request.TimeOut, "error " + errCode))
                next()
        }
    }

    Request {
        id: pinned
        pinnedCertificate: "@CERT_FILE@"
        onSslResponse: function (json, key) {
            if (expect(key === pending && JSON.parse(json).ok === true, json))
                next()
        }
        onError: function (errCode, key) { fail("error " + errCode) }
    }

    Request {
        id: verified
        verifyPeer: true
        onSslResponse: fail("a self-signed certificate passed verification")
        onError: function (errCode, key) {
            if (expect(key === pending && errCode === Request.OtherError, "error " + errCode))
                next()
        }
    }

    Request {
        id: wronglyPinned
        pinnedCertificate: "00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff"
        onSslResponse: fail("a certificate that is not the pinned one passed")
        onError: function (errCode, key) {
            if (expect(key === pending && errCode === Request.OtherError, "error " + errCode))
                next()
        }
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
