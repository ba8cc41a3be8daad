#include "qmlapplicationviewer.h"
#include "qmlapplicationviewer_p.h"

#include <QtTest>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>

class QmlApplicationViewerTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void adjustPath_data();
    void adjustPath();
    void mainQmlFileKeepsAdjustedPath();
    void quitClosesWindow();
    void orientation_data();
    void orientation();

private:
    QString installParent() const { return QCoreApplication::applicationDirPath() + "/../"; }
    QString m_dirName;
    QString m_fileName;
};

void QmlApplicationViewerTest::initTestCase()
{
    // Entries beside the test's own directory stand in for an install tree.
    const QString tag = QString::number(QCoreApplication::applicationPid());
    m_dirName = "viewer-dir-" + tag;
    m_fileName = "viewer-file-" + tag + ".qml";
    QVERIFY(QDir(installParent()).mkpath(m_dirName));
    QFile f(installParent() + m_fileName);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("import QtQuick 2.15\nItem { width: 10; height: 10 }\n");
}

void QmlApplicationViewerTest::cleanupTestCase()
{
    QDir(installParent()).rmdir(m_dirName);
    QFile::remove(installParent() + m_fileName);
}

void QmlApplicationViewerTest::adjustPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const QString prefix = installParent();

    QTest::newRow("empty names the install parent") << QString() << prefix;
    QTest::newRow("existing file") << m_fileName << prefix + m_fileName;
    QTest::newRow("directory only") << m_dirName << prefix + m_dirName;
    QTest::newRow("missing file") << "qml/none/missing.qml"
                                  << "qml/none/missing.qml";
    QTest::newRow("absolute, missing under prefix") << "/etc/passwd"
                                                    << "/etc/passwd";
    // An absolute path keeps its own slash, so the prefix ends in a doubled one.
    QTest::newRow("absolute, present under prefix") << "/" + m_dirName << prefix + "/" + m_dirName;
}

void QmlApplicationViewerTest::adjustPath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(QmlApplicationViewerPrivate::adjustPath(path), expected);
}

void QmlApplicationViewerTest::mainQmlFileKeepsAdjustedPath()
{
    QmlApplicationViewer viewer;
    viewer.setMainQmlFile(m_fileName);
    QCOMPARE(viewer.d->mainQmlFile, installParent() + m_fileName);
    QCOMPARE(viewer.source(), QUrl::fromLocalFile(installParent() + m_fileName));
    QCOMPARE(viewer.status(), QQuickView::Ready);
    QVERIFY(viewer.rootObject());
}

void QmlApplicationViewerTest::quitClosesWindow()
{
    QmlApplicationViewer viewer;
    QQmlComponent component(viewer.engine());
    component.setData("import QtQuick 2.15\nItem { function leave() { Qt.quit() } }", QUrl());
    QScopedPointer<QObject> item(component.create());
    QVERIFY2(item, qPrintable(component.errorString()));
    viewer.showExpanded();
    QVERIFY(viewer.isVisible());
    QCOMPARE(viewer.windowState(), Qt::WindowFullScreen);
    QMetaObject::invokeMethod(item.data(), "leave");
    QTRY_VERIFY(!viewer.isVisible());
}

void QmlApplicationViewerTest::orientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("content");
    const int screen = QGuiApplication::primaryScreen()->orientation();
    QTest::newRow("portrait") << int(QmlApplicationViewer::ScreenOrientationLockPortrait)
                              << int(Qt::PortraitOrientation);
    QTest::newRow("landscape") << int(QmlApplicationViewer::ScreenOrientationLockLandscape)
                               << int(Qt::LandscapeOrientation);
    QTest::newRow("auto") << int(QmlApplicationViewer::ScreenOrientationAuto) << screen;
    QTest::newRow("out of range acts as auto") << 42 << screen;
}

void QmlApplicationViewerTest::orientation()
{
    QFETCH(int, orientation);
    QFETCH(int, content);
    QmlApplicationViewer viewer;
    // Start from the other lock, so a call that changes nothing cannot pass.
    viewer.setOrientation(content == Qt::PortraitOrientation
                              ? QmlApplicationViewer::ScreenOrientationLockLandscape
                              : QmlApplicationViewer::ScreenOrientationLockPortrait);
    viewer.setOrientation(QmlApplicationViewer::ScreenOrientation(orientation));
    QCOMPARE(int(viewer.contentOrientation()), content);
}

QTEST_MAIN(QmlApplicationViewerTest)
#include "qmlapplicationviewertest.moc"
