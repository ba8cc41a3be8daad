#include "installtree.h"

#include <QSettings>
#include <QtTest>

// Settings written by the real binary survive the process being killed outright
// (SIGKILL) once it is back in its event loop after the write.
class DurabilityTest : public QObject
{
    Q_OBJECT
private slots:
    void killedAfterWrite_data();
    void killedAfterWrite();
};

namespace {

// Runs statements once loaded; then, from the event loop, quits or logs WRITTEN and stays up.
QByteArray page(const QByteArray &statements, bool quit)
{
    return "import QtQuick 2.15\nimport Zelko 1.0\n"
           "Item { Settings { id: s }\n"
           "  Component.onCompleted: { "
           + statements
           + " }\n"
             "  Timer { interval: 0; running: true; onTriggered: "
           + (quit ? "Qt.quit()" : "console.log('WRITTEN')")
           + " }\n"
             "}\n";
}

// Runs the page to its own quit; returns its log.
QString runToEnd(const InstallTree &tree, const QByteArray &statements)
{
    if (!tree.writeMainQml(page(statements, true)))
        return QStringLiteral("cannot write main.qml");
    QProcess zelko;
    tree.start(zelko);
    if (!zelko.waitForFinished(60000))
        return QStringLiteral("zelko did not quit");
    const QString log = QString::fromUtf8(zelko.readAllStandardError());
    return zelko.exitStatus() == QProcess::NormalExit && zelko.exitCode() == 0
               ? log
               : QStringLiteral("FAILED ") + log;
}

} // namespace

void DurabilityTest::killedAfterWrite_data()
{
    QTest::addColumn<QByteArray>("before"); // run to a normal exit first
    QTest::addColumn<QByteArray>("killed"); // run, then SIGKILL once back in the event loop
    QTest::addColumn<QString>("expected");  // text|n|contains(text) as the next process reads it

    QTest::newRow("new values") << QByteArray()
                                << QByteArray(
                                       "s.setValue('durable/text', 'zelko ünï'); s.setValue('durable/n', 42)")
                                << QStringLiteral("zelko ünï|42|true");
    QTest::newRow("overwritten value")
        << QByteArray("s.setValue('durable/text', 'old'); s.setValue('durable/n', 1)")
        << QByteArray("s.setValue('durable/text', 'new')") << QStringLiteral("new|1|true");
    QTest::newRow("removed value") << QByteArray(
        "s.setValue('durable/text', 'gone soon'); s.setValue('durable/n', 7)")
                                   << QByteArray("s.remove('durable/text')") << QStringLiteral("|7|false");
}

void DurabilityTest::killedAfterWrite()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, killed);
    QFETCH(QString, expected);
    InstallTree tree;
    QVERIFY(tree.isValid());
    if (!before.isEmpty()) {
        const QString log = runToEnd(tree, before);
        QVERIFY2(!log.startsWith(QLatin1String("FAILED")) && !log.startsWith(QLatin1String("zelko did")),
                 qPrintable(log));
    }

    // The marker comes once the writer is back in its event loop, which it never leaves:
    // the kill is its end, as when a handset reclaims a background application.
    QVERIFY(tree.writeMainQml(page(killed, false)));
    QProcess writer;
    tree.start(writer);
    QVERIFY(writer.waitForStarted(30000));
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += writer.readAllStandardError()).contains("WRITTEN"), 60000);
    // Qt writes the file back from its event loop, a turn or so after the change: the kill
    // comes once it has, while the program still runs.
    const QString file = tree.configHome() + QStringLiteral("/Zelko/QtClient.conf");
    const QStringList want = expected.split(QLatin1Char('|'));
    QTRY_VERIFY_WITH_TIMEOUT(
        QSettings(file, QSettings::IniFormat).value(QStringLiteral("durable/text")).toString()
                == want.value(0)
            && QSettings(file, QSettings::IniFormat).contains(QStringLiteral("durable/text"))
                   == (want.value(2) == QLatin1String("true")),
        30000);
    QCOMPARE(writer.state(), QProcess::Running);
    writer.kill();
    QVERIFY(writer.waitForFinished(30000));
    QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

    const QString read =
        runToEnd(tree, "console.log('READ[' + s.value('durable/text') + '|' + s.value('durable/n')"
                       " + '|' + s.contains('durable/text') + ']')");
    QVERIFY2(read.contains(QStringLiteral("READ[%1]").arg(expected)), qPrintable(read));
}

QTEST_GUILESS_MAIN(DurabilityTest)
#include "durabilitytest.moc"
