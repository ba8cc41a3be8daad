#include "installtree.h"
#include "minihttpserver.h"
#include "referenceservice.h"
#include "skips.h"
#include "thumbnailcheck.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QtTest>

// The client (main, viewer and library as shipped, plus the hook that names the
// test's service) with the real screens, against the real service, in a real
// window on an X server: what the screen shows is checked pixel by pixel.
class EndToEndTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void resultsWithThumbnailsOnScreen();
    void cleanupTestCase();

private:
    QImage screenshot();

    QProcess m_xvfb;
    QString m_display;
    QString m_import;
    ReferenceService m_service;
};

// The real client, plus two things for the test: where the thumbnails are, and
// quitting once the test has looked (it answers the request only then).
static const char wrapper[] = R"(import QtQuick 2.15
import Zelko 1.0
import "Screens.js" as Screens

ZelkoApp {
    id: app
    Request {
        id: cue
        onSslResponse: Qt.quit()
        onError: { console.log("E2E cue failed " + errCode); Qt.quit() }
    }
    AfterFrames {
        id: drawn
        onDone: {
            console.log("E2E thumbnails " + JSON.stringify(Screens.thumbnailRects(app.searchPage)))
            cue.requestHttps("looked?", "%1")
        }
    }
    onFirstResultsShown: drawn.start()
}
)";

void EndToEndTest::initTestCase()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    m_import = QStandardPaths::findExecutable(QStringLiteral("import"));
    if (xvfb.isEmpty() || m_import.isEmpty())
        ZELKO_SKIP_WITHOUT_TOOL("Xvfb and ImageMagick's import (scripts/deps.sh installs them)");
    QVERIFY2(m_service.start(), qPrintable(m_service.log()));

    // The server picks a free display and writes its number to the given descriptor.
    m_xvfb.start(xvfb, {"-displayfd", "1", "-screen", "0", "480x800x24", "-nolisten", "tcp"});
    QVERIFY(m_xvfb.waitForStarted(20000));
    QByteArray out;
    QVERIFY(QTest::qWaitFor(
        [&] {
            m_xvfb.waitForReadyRead(100);
            out += m_xvfb.readAllStandardOutput();
            return out.contains('\n') || m_xvfb.state() != QProcess::Running;
        },
        30000));
    bool ok = false;
    const int display = out.trimmed().toInt(&ok);
    QVERIFY2(ok, m_xvfb.readAllStandardError().constData());
    m_display = QStringLiteral(":%1").arg(display);
}

void EndToEndTest::cleanupTestCase()
{
    m_xvfb.terminate();
    m_xvfb.waitForFinished(10000);
}

QImage EndToEndTest::screenshot()
{
    QProcess import;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    import.setProcessEnvironment(env);
    import.start(m_import, {"-window", "root", "png:-"});
    if (!import.waitForFinished(30000) || import.exitCode() != 0)
        return QImage();
    return QImage::fromData(import.readAllStandardOutput(), "PNG").convertToFormat(QImage::Format_RGB32);
}

void EndToEndTest::resultsWithThumbnailsOnScreen()
{
    InstallTree tree(QStringLiteral(ZELKO_TEST_CLIENT));
    QVERIFY(tree.isValid());
    const QDir source(QStringLiteral(ZELKO_QML_DIR));
    for (const QString &file : source.entryList({"*.qml", "*.js", "qmldir"}, QDir::Files))
        QVERIFY(QFile::copy(source.filePath(file), QDir(tree.root()).filePath("qml/Zelko/" + file)));
    QVERIFY(QFile::remove(tree.mainQml()));
    for (const char *file : {"Screens.js", "AfterFrames.qml"})
        QVERIFY(QFile::copy(QStringLiteral(ZELKO_TEST_SUPPORT_DIR "/") + file,
                            QDir(tree.root()).filePath(QStringLiteral("qml/Zelko/") + file)));

    MiniHttpServer cue(true);
    QPointer<QTcpSocket> held;
    cue.setResponder([&held](QTcpSocket *socket, const ReceivedRequest &) { held = socket; });
    QVERIFY(tree.writeMainQml(QString::fromLatin1(wrapper).arg(cue.url("/looked")).toUtf8()));

    QProcess zelko;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.remove(QStringLiteral("QT_QUICK_BACKEND"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tree.configHome());
    env.insert(QStringLiteral("HOME"), tree.root());
    env.insert(QStringLiteral("ZELKO_TEST_SERVICE_URL"), m_service.searchUrl());
    zelko.setProcessEnvironment(env);
    zelko.setWorkingDirectory(QDir::tempPath());
    zelko.start(tree.binary(), QStringList());
    QVERIFY(zelko.waitForStarted(30000));
    const auto stopOnFailure = qScopeGuard([&zelko] {
        zelko.kill();
        zelko.waitForFinished(10000);
    });

    QByteArray log;
    auto lineAfter = [&log](const QByteArray &marker) {
        const int at = log.indexOf(marker);
        const int end = at < 0 ? -1 : log.indexOf('\n', at);
        return end < 0 ? QByteArray() : log.mid(at + marker.size(), end - at - marker.size());
    };
    const bool reported = QTest::qWaitFor(
        [&] {
            log += zelko.readAllStandardError();
            return !lineAfter("E2E thumbnails ").isEmpty() || zelko.state() != QProcess::Running;
        },
        90000);
    QVERIFY2(reported && !lineAfter("E2E thumbnails ").isEmpty(), log.constData());
    QVERIFY2(log.contains("zelko: results shown"), log.constData());

    const QJsonArray rects = QJsonDocument::fromJson(lineAfter("E2E thumbnails ")).array();
    QVERIFY2(rects.size() >= 3, log.constData());
    for (const QJsonValue &r : rects)
        QVERIFY(r.toObject().value("ready").toBool());

    // The X server may show the last frame a moment after the client drew it.
    QString mismatch;
    QImage shot;
    const bool shown = QTest::qWaitFor(
        [&] {
            shot = screenshot();
            mismatch = compareThumbnails(shot, rects);
            return mismatch.isEmpty();
        },
        20000);
    if (!shown)
        shot.save(QStringLiteral("endtoendtest-screen.png"));
    QVERIFY2(shown, qPrintable(mismatch + " (screen saved as endtoendtest-screen.png)"));

    QVERIFY(QTest::qWaitFor([&] { return !held.isNull(); }, 30000));
    held->write(MiniHttpServer::response("{}"));
    // The answer still has to be sent, so the event loop runs while waiting.
    QVERIFY(QTest::qWaitFor([&] { return zelko.state() == QProcess::NotRunning; }, 30000));
    log += zelko.readAllStandardError();
    QVERIFY2(!log.contains("E2E cue failed"), log.constData());
    QCOMPARE(zelko.exitStatus(), QProcess::NormalExit);
    if (zelko.exitCode() != 0) {
        // A sanitizer's report runs long: the whole log goes to a file, its end to the failure.
        QFile saved(QStringLiteral("endtoendtest-client.log"));
        if (saved.open(QIODevice::WriteOnly))
            saved.write(log);
        QFAIL(
            qPrintable(QStringLiteral("the client exited with %1 (log saved as endtoendtest-client.log): %2")
                           .arg(zelko.exitCode())
                           .arg(QString::fromLocal8Bit(log.right(600)))));
    }
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "endtoendtest.moc"
