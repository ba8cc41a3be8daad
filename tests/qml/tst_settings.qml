import QtQuick 2.15
import QtTest 1.2
import Zelko 1.0

TestCase {
    name: "Settings"

    Settings { id: settings }
    Settings { id: other }

    function test_missingKey() {
        compare(settings.value("qml/never"), "")
        compare(typeof settings.value("qml/never"), "string")
        verify(!settings.contains("qml/never"))
    }

    function test_roundTrip_data() {
        return [
            { tag: "string", key: "qml/s", value: "zelko ü" },
            { tag: "number", key: "qml/n", value: 12.5 },
            { tag: "integer", key: "qml/i", value: -3 },
            { tag: "boolean true", key: "qml/b", value: true },
            { tag: "boolean false", key: "qml/f", value: false },
        ]
    }

    function test_roundTrip(data) {
        settings.setValue(data.key, data.value)
        verify(other.contains(data.key))
        // INI storage gives back text for non-string values; QML compares loosely.
        compare(String(other.value(data.key)), String(data.value))
        other.remove(data.key)
        verify(!settings.contains(data.key))
    }

    function test_identity() {
        compare(settings.pid(), "10010")
        compare(settings.cid(), "C1000")
        compare(settings.vid(), "21001002")
        verify(settings.info().indexOf("{imei:\"" + settings.uid() + "\",") === 0)
    }
}
