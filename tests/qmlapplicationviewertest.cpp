#include "qmlapplicationviewer.h"
#include "qmlapplicationviewer_p.h"

#include <QtTest>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>
#include <qpa/qwindowsysteminterface.h>

namespace {

// One move of a rotation sequence: the viewer is given a mode, or the screen turns;
// either way the content must then read `content`.
struct OrientationStep
{
    bool setsMode;
    int value;
    Qt::ScreenOrientation content;
};
using OrientationSteps = QVector<OrientationStep>;

OrientationStep mode(QmlApplicationViewer::ScreenOrientation m, Qt::ScreenOrientation content)
{
    return {true, int(m), content};
}

OrientationStep turn(Qt::ScreenOrientation to, Qt::ScreenOrientation content)
{
    return {false, int(to), content};
}

// Through the platform's event path, as a device sensor would report it.
void rotateScreen(QScreen *screen, Qt::ScreenOrientation to)
{
    QWindowSystemInterface::handleScreenOrientationChange(screen, to);
    QWindowSystemInterface::flushWindowSystemEvents();
}

} // namespace

Q_DECLARE_METATYPE(OrientationSteps)

class QmlApplicationViewerTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void adjustPath_data();
    void adjustPath();
    void mainQmlFileKeepsAdjustedPath();
    void quitClosesWindow();
    void orientation_data();
    void orientation();
    void rotation_data();
    void rotation();

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

void QmlApplicationViewerTest::cleanup()
{
    // Back to the state a process starts in: the screen in landscape, no turns asked for.
    QScreen *screen = QGuiApplication::primaryScreen();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    screen->setOrientationUpdateMask(Qt::LandscapeOrientation);
    rotateScreen(screen, Qt::LandscapeOrientation);
    screen->setOrientationUpdateMask({});
#else
    rotateScreen(screen, Qt::LandscapeOrientation);
#endif
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

void QmlApplicationViewerTest::rotation_data()
{
    using V = QmlApplicationViewer;
    QTest::addColumn<OrientationSteps>("steps");

    QTest::newRow("auto follows to portrait and back")
        << OrientationSteps{mode(V::ScreenOrientationAuto, Qt::LandscapeOrientation),
                            turn(Qt::PortraitOrientation, Qt::PortraitOrientation),
                            turn(Qt::LandscapeOrientation, Qt::LandscapeOrientation)};
    QTest::newRow("auto follows inverted turns")
        << OrientationSteps{mode(V::ScreenOrientationAuto, Qt::LandscapeOrientation),
                            turn(Qt::InvertedPortraitOrientation, Qt::InvertedPortraitOrientation),
                            turn(Qt::InvertedLandscapeOrientation, Qt::InvertedLandscapeOrientation),
                            turn(Qt::PortraitOrientation, Qt::PortraitOrientation)};
    QTest::newRow("auto starts from a screen turned while locked")
        << OrientationSteps{mode(V::ScreenOrientationLockPortrait, Qt::PortraitOrientation),
                            turn(Qt::InvertedLandscapeOrientation, Qt::PortraitOrientation),
                            mode(V::ScreenOrientationAuto, Qt::InvertedLandscapeOrientation),
                            turn(Qt::LandscapeOrientation, Qt::LandscapeOrientation)};
    QTest::newRow("portrait lock ignores turns")
        << OrientationSteps{mode(V::ScreenOrientationLockPortrait, Qt::PortraitOrientation),
                            turn(Qt::InvertedLandscapeOrientation, Qt::PortraitOrientation),
                            turn(Qt::LandscapeOrientation, Qt::PortraitOrientation)};
    QTest::newRow("landscape lock ignores turns")
        << OrientationSteps{mode(V::ScreenOrientationLockLandscape, Qt::LandscapeOrientation),
                            turn(Qt::PortraitOrientation, Qt::LandscapeOrientation),
                            turn(Qt::InvertedPortraitOrientation, Qt::LandscapeOrientation)};
    QTest::newRow("landscape lock after auto stops following")
        << OrientationSteps{mode(V::ScreenOrientationAuto, Qt::LandscapeOrientation),
                            turn(Qt::PortraitOrientation, Qt::PortraitOrientation),
                            mode(V::ScreenOrientationLockLandscape, Qt::LandscapeOrientation),
                            turn(Qt::InvertedPortraitOrientation, Qt::LandscapeOrientation)};
    QTest::newRow("portrait lock after auto stops following")
        << OrientationSteps{mode(V::ScreenOrientationAuto, Qt::LandscapeOrientation),
                            turn(Qt::InvertedLandscapeOrientation, Qt::InvertedLandscapeOrientation),
                            mode(V::ScreenOrientationLockPortrait, Qt::PortraitOrientation),
                            turn(Qt::LandscapeOrientation, Qt::PortraitOrientation)};
}

void QmlApplicationViewerTest::rotation()
{
    QFETCH(OrientationSteps, steps);
    QmlApplicationViewer viewer;
    QScreen *screen = viewer.screen();
    QVERIFY(screen);
    // Every sequence is written for a screen that starts in landscape.
    QCOMPARE(screen->orientation(), Qt::LandscapeOrientation);
    for (int i = 0; i < steps.size(); ++i) {
        const OrientationStep &step = steps.at(i);
        if (step.setsMode)
            viewer.setOrientation(QmlApplicationViewer::ScreenOrientation(step.value));
        else
            rotateScreen(screen, Qt::ScreenOrientation(step.value));
        QVERIFY2(viewer.contentOrientation() == step.content,
                 qPrintable(QStringLiteral("after move %1: content %2, expected %3")
                                .arg(i)
                                .arg(int(viewer.contentOrientation()))
                                .arg(int(step.content))));
    }
}

QTEST_MAIN(QmlApplicationViewerTest)
#include "qmlapplicationviewertest.moc"
