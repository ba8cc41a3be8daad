#include "installtree.h"

#include <QtTest>

// The real zelko binary, started from a temporary install tree.
class ApplicationTest : public QObject
{
    Q_OBJECT
private slots:
    void quitFromQml();
    void missingMainFileStillRuns();
    void settingsSurviveProcesses();
    void teardownWritesReachFile_data();
    void teardownWritesReachFile();
    void debugLinesByCategory_data();
    void debugLinesByCategory();
};

static const QByteArray quittingPage =
    "import QtQuick 2.15\n"
    "Rectangle {\n"
    "  width: 200; height: 100\n"
    "  Component.onCompleted: console.log('loaded ' + Qt.resolvedUrl('main.qml'))\n"
    "  Timer { interval: 0; running: true; onTriggered: Qt.quit() }\n"
    "}\n";

void ApplicationTest::quitFromQml()
{
    InstallTree tree;
    QVERIFY(tree.isValid());
    QVERIFY(tree.writeMainQml(quittingPage));

    QByteArray log;
    QVERIFY2(tree.runToEnd(&log), log.constData());
    // The installed file was the one loaded, found through <bin>/../qml.
    QVERIFY2(log.contains("loaded file://" + QFileInfo(tree.mainQml()).absolutePath().toUtf8()),
             log.constData());
}

void ApplicationTest::missingMainFileStillRuns()
{
    InstallTree tree;
    QVERIFY(tree.isValid());

    QProcess zelko;
    tree.start(zelko);
    QVERIFY(zelko.waitForStarted(30000));
    // The engine reports the missing file; the event loop must run on regardless.
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += zelko.readAllStandardError()).contains("main.qml"), 30000);
    QCOMPARE(zelko.state(), QProcess::Running);
    zelko.kill();
    QVERIFY(zelko.waitForFinished(30000));
}

void ApplicationTest::settingsSurviveProcesses()
{
    InstallTree tree;
    QVERIFY(tree.isValid());

    QVERIFY(tree.writeMainQml(
        "import QtQuick 2.15\nimport Zelko 1.0\n"
        "Item { Settings { id: s }\n"
        "  Component.onCompleted: { s.setValue('recent/first', 'zelko ünï'); s.setValue('count', 3) }\n"
        "  Timer { interval: 0; running: true; onTriggered: Qt.quit() } }\n"));
    QByteArray log;
    QVERIFY2(tree.runToEnd(&log), log.constData());

    QVERIFY(tree.writeMainQml("import QtQuick 2.15\nimport Zelko 1.0\n"
                              "Item { Settings { id: s }\n"
                              "  Component.onCompleted: console.log('READ[' + s.value('recent/first') + '|' "
                              "+ s.value('count') + ']')\n"
                              "  Timer { interval: 0; running: true; onTriggered: Qt.quit() } }\n"));
    QVERIFY2(tree.runToEnd(&log), log.constData());
    QVERIFY2(QString::fromUtf8(log).contains(QStringLiteral("READ[zelko ünï|3]")), log.constData());
    QVERIFY(QFile::exists(tree.configHome() + QStringLiteral("/Zelko/QtClient.conf")));
}

void ApplicationTest::teardownWritesReachFile_data()
{
    QTest::addColumn<QByteArray>("elements");
    QTest::addColumn<QString>("value");

    QTest::newRow("settings element, its own destruction")
        << QByteArray("Settings { id: s; Component.onDestruction: s.setValue('teardown', 'own') }") << "own";
    QTest::newRow("another element's destruction")
        << QByteArray("Settings { id: s }\n"
                      "Item { Component.onDestruction: s.setValue('teardown', 'other') }")
        << "other";
    // The teardown makes a network helper again. The store written after it hangs from the
    // same root, so a value on disk also shows that helper was released.
    QTest::newRow("after a service request")
        << QByteArray("Settings { id: s }\n"
                      "Request { id: r; Component.onDestruction: {\n"
                      "  r.request('x'); s.setValue('teardown', 'request') } }")
        << "request";
    QTest::newRow("after an https request")
        << QByteArray("Settings { id: s }\n"
                      "Request { id: r; Component.onDestruction: {\n"
                      "  r.requestHttps('x', 'https://127.0.0.1:1/'); s.setValue('teardown', 'https') } }")
        << "https";
    QTest::newRow("after both requests")
        << QByteArray("Settings { id: s }\n"
                      "Request { id: r; Component.onDestruction: {\n"
                      "  r.request('x'); r.requestHttps('x', 'https://127.0.0.1:1/');\n"
                      "  s.setValue('teardown', 'both') } }")
        << "both";
}

// QML runs again while the viewer is torn down after the event loop; what it does
// then must still take effect, and must not bring the process down.
void ApplicationTest::teardownWritesReachFile()
{
    QFETCH(QByteArray, elements);
    QFETCH(QString, value);
    InstallTree tree;
    QVERIFY(tree.isValid());
    QVERIFY(tree.writeMainQml("import QtQuick 2.15\nimport Zelko 1.0\nItem {\n" + elements
                              + "\nTimer { interval: 0; running: true; onTriggered: Qt.quit() } }\n"));

    QByteArray log;
    QVERIFY2(tree.runToEnd(&log), log.constData());

    QSettings stored(tree.configHome() + QStringLiteral("/Zelko/QtClient.conf"), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("teardown")).toString(), value);
}

void ApplicationTest::debugLinesByCategory_data()
{
    QTest::addColumn<QString>("rules"); // QT_LOGGING_RULES; empty: unset
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("hidden");
    const QString network = QStringLiteral("zelko.network: call httpHelper");
    const QString device = QStringLiteral("zelko.device: **********MOBILITY_SYSTEMINFO************");
    QTest::newRow("on by default") << QString() << QStringList{network, device} << QStringList();
    QTest::newRow("zelko.* off") << "zelko.*=false" << QStringList() << QStringList{network, device};
    QTest::newRow("one area off") << "zelko.network=false" << QStringList{device} << QStringList{network};
}

void ApplicationTest::debugLinesByCategory()
{
    QFETCH(QString, rules);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, hidden);
    InstallTree tree;
    QVERIFY(tree.isValid());
    QVERIFY(tree.writeMainQml("import QtQuick 2.15\nimport Zelko 1.0\n"
                              "Item { Settings { id: s }\n"
                              "  Request { id: r; onError: Qt.quit(); onResponse: Qt.quit() }\n"
                              "  Component.onCompleted: { s.info(); r.request('{}') } }\n"));
    QByteArray output;
    const bool ended = tree.runToEnd(&output, [&rules](QProcessEnvironment &env) {
        if (rules.isEmpty())
            env.remove(QStringLiteral("QT_LOGGING_RULES"));
        else
            env.insert(QStringLiteral("QT_LOGGING_RULES"), rules);
    });
    const QString log = QString::fromUtf8(output);
    QVERIFY2(ended, qPrintable(log));
    for (const QString &line : shown)
        QVERIFY2(log.contains(line), qPrintable(log));
    for (const QString &line : hidden)
        QVERIFY2(!log.contains(line.section(QLatin1String(": "), 1)), qPrintable(log));
    // The request carries its content type itself, so Qt has nothing to warn about.
    QVERIFY2(!log.contains(QLatin1String("content-type missing")), qPrintable(log));
}

QTEST_GUILESS_MAIN(ApplicationTest)
#include "applicationtest.moc"
