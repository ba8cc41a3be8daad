#include "drivenclient.h"
#include "referenceservice.h"
#include "skips.h"
#include "weston.h"

#include <QtTest>

// The real client on phone screens, portrait and landscape, at the densities of today's
// handsets, in English and German, under Wayland: every screen it has walked for what a
// person on a touch screen would meet (support/treewalk.h).
class PhoneScreenTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void walk_data();
    void walk();
    void germanLabels_data();
    void germanLabels();

private:
    ReferenceService m_service;
    // Per step, what the German run showed, by objectName.
    QMap<QString, QJsonObject> m_german;
};

static const QStringList steps{QStringLiteral("results"), QStringLiteral("error"), QStringLiteral("details"),
                               QStringLiteral("about")};
// What must be read whole: what was typed, package names, failures.
static const char readWhole[] = "queryField,resultName,detailsName,statusText";

void PhoneScreenTest::initTestCase()
{
    if (Weston::binary().isEmpty())
        ZELKO_SKIP_WITHOUT_TOOL("weston (scripts/deps.sh installs it)");
    QVERIFY2(m_service.start(), qPrintable(m_service.log()));
}

void PhoneScreenTest::walk_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("ratio");
    QTest::addColumn<QString>("language");
    QTest::newRow("360x740 @3") << QSize(360, 740) << 3 << "C.UTF-8";
    QTest::newRow("740x360 @3") << QSize(740, 360) << 3 << "C.UTF-8";
    QTest::newRow("360x740 @2") << QSize(360, 740) << 2 << "C.UTF-8";
    QTest::newRow("740x360 @2") << QSize(740, 360) << 2 << "C.UTF-8";
    QTest::newRow("360x740 @3 German") << QSize(360, 740) << 3 << "de_DE.UTF-8";
    QTest::newRow("740x360 @3 German") << QSize(740, 360) << 3 << "de_DE.UTF-8";
    // What an on-screen keyboard leaves of a portrait screen.
    QTest::newRow("360x440 @3 German, keyboard up") << QSize(360, 440) << 3 << "de_DE.UTF-8";
}

void PhoneScreenTest::walk()
{
    QFETCH(QSize, size);
    QFETCH(int, ratio);
    QFETCH(QString, language);
    Weston weston;
    QVERIFY2(weston.start(size, ratio), qPrintable(weston.error()));
    DrivenClient client;
    QVERIFY(client.isValid());
    client.start(m_service.searchUrl(), steps, [&](QProcessEnvironment &env) {
        weston.addClientEnvironment(env);
        env.insert(QStringLiteral("ZELKO_TEST_READ_WHOLE"), QString::fromLatin1(readWhole));
        for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("LANG"), language);
    });
    // Every step is walked before the findings are told.
    QStringList findings;
    for (const QString &step : steps) {
        const QJsonObject report = client.next();
        QVERIFY2(report.value("step").toString() == step,
                 qPrintable(step + QStringLiteral(": ") + client.log()));
        const QJsonObject walk = report.value("walk").toObject();
        const QJsonArray window = walk.value("window").toArray();
        QCOMPARE(QSize(window.at(0).toInt(), window.at(1).toInt()), size);
        QCOMPARE(walk.value("dpr").toDouble(), double(ratio));
        for (const QJsonValue &f : walk.value("findings").toArray())
            findings.append(step + QStringLiteral(": ")
                            + QString::fromUtf8(QJsonDocument(f.toObject()).toJson(QJsonDocument::Compact)));
        if (language.startsWith(QLatin1String("de")))
            m_german.insert(step, walk.value("texts").toObject());
        // What docs/phone.md shows.
        if (step == QLatin1String("results"))
            weston.screenshot().save(
                QStringLiteral("phonescreentest-%1.png")
                    .arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
        client.proceed();
    }
    QVERIFY2(client.finish(), qPrintable(client.log()));
    QVERIFY2(findings.isEmpty(), qPrintable(findings.join(QLatin1Char('\n'))));
    // Warnings from the screens (a binding loop, an anchor QML refused) name their file and line.
    QVERIFY2(!client.log().contains(QRegularExpression(QStringLiteral("\\.(qml|js):\\d+"))),
             qPrintable(client.log()));
}

void PhoneScreenTest::germanLabels_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("text");
    QTest::newRow("search") << "results"
                            << "searchButton"
                            << "Suchen";
    QTest::newRow("about") << "results"
                           << "aboutButton"
                           << "Über";
    QTest::newRow("more results") << "results"
                                  << "moreButton"
                                  << "Weitere Ergebnisse";
    QTest::newRow("refused search") << "error"
                                    << "statusText"
                                    << "Der Dienst hat die Signatur der Anfrage abgelehnt.";
    QTest::newRow("retry") << "error"
                           << "retryButton"
                           << "Wiederholen";
    QTest::newRow("back") << "details"
                          << "backButton"
                          << "‹ Zurück";
    QTest::newRow("send") << "about"
                          << "sendButton"
                          << "Senden";
}

// The German run showed the German labels (LANG=de_DE.UTF-8, the translation installed
// beside the program).
void PhoneScreenTest::germanLabels()
{
    QFETCH(QString, step);
    QFETCH(QString, item);
    QFETCH(QString, text);
    QVERIFY2(m_german.contains(step), "the German walk did not run");
    QCOMPARE(m_german.value(step).value(item).toString(), text);
}

QTEST_GUILESS_MAIN(PhoneScreenTest)
#include "phonescreentest.moc"
