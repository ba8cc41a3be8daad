#ifndef QTINSTALL_H
#define QTINSTALL_H

#include <QLibraryInfo>
#include <QString>

// Where the Qt the suite was built with keeps its programs and QML modules: never
// the first ones on PATH, which may be the other Qt's.
namespace QtInstall {

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
inline QString binaries()
{
    return QLibraryInfo::path(QLibraryInfo::BinariesPath);
}
// Qt 6 keeps the tools only builds run (qmlimportscanner) apart from the user's.
inline QString buildTools()
{
    return QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath);
}
inline QString qmlModules()
{
    return QLibraryInfo::path(QLibraryInfo::QmlImportsPath);
}
// The QML viewer: Qt 6's qmlscene is deprecated, says so on every run and loses a
// Qt.quit() made before its event loop runs.
#define ZELKO_QML_VIEWER "qml"
// Debian's packages of the tools, for skip messages.
#define ZELKO_QML_VIEWER_PACKAGE "qml-qt6"
#define ZELKO_QML_TOOLS_PACKAGE "qt6-declarative-dev-tools"
#else
inline QString binaries()
{
    return QLibraryInfo::location(QLibraryInfo::BinariesPath);
}
inline QString buildTools()
{
    return binaries();
}
inline QString qmlModules()
{
    return QLibraryInfo::location(QLibraryInfo::Qml2ImportsPath);
}
#define ZELKO_QML_VIEWER "qmlscene"
#define ZELKO_QML_VIEWER_PACKAGE "qmlscene"
#define ZELKO_QML_TOOLS_PACKAGE "qtdeclarative5-dev-tools"
#endif

} // namespace QtInstall

#endif
