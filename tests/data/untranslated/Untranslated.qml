import QtQuick 2.15

// Every visible text here is written without qsTr: the check must fail on this file.
Text {
    property string message
    text: "Not marked"
    Accessible.name: busy ? qsTr("Marked") : "Not marked in a ternary"
    function fail() { message = "Not marked in an assignment" }
}
