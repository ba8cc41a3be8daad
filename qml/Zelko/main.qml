import QtQuick 2.15

// The entry file the program loads; the client itself is ZelkoApp, which tests load too.
ZelkoApp {
}
