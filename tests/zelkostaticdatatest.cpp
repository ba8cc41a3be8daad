#include "zelkodevice.h"
#include "zelkostaticdata.h"
#include "zelkotesting.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

// Distinct values per field, and a count of every question asked.
class FakeDevice : public ZelkoDeviceSource
{
public:
    QString imei() const override { return ask(0); }
    QString productName() const override { return ask(1); }
    QString model() const override { return ask(2); }
    QString osVersion() const override { return ask(3); }
    QString firmwareVersion() const override { return ask(4); }

    QStringList values{"356938035643809", "Librem 5", "Evergreen", "12", "6.1.0-13"};
    mutable QVector<int> asked = QVector<int>(5, 0);

private:
    QString ask(int field) const
    {
        ++asked[field];
        return values[field];
    }
};

const char infoLine[] = "**********MOBILITY_SYSTEMINFO************";

} // namespace

class ZelkoStaticDataTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void fixedIdentifiers();
    void infoText_data();
    void infoText();
    void infoFromSource();
    void uidIsTheImeiAlone();
    void infoAsksAnewEachCall();
    void serviceUrlForm_data();
    void serviceUrlForm();
    void serviceUrlSeam();

private:
    QTemporaryDir m_noBus;
};

void ZelkoStaticDataTest::initTestCase()
{
    // The platform source asks the system bus for the IMEI. Before anything connects, the
    // bus becomes a socket that cannot exist, so that no case depends on the machine's own.
    QVERIFY(m_noBus.isValid());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(m_noBus.filePath(QStringLiteral("none"))));
}

void ZelkoStaticDataTest::cleanup()
{
    ZelkoTesting::setDeviceSource(nullptr);
    ZelkoTesting::setServiceUrl(QString());
}

void ZelkoStaticDataTest::fixedIdentifiers()
{
    for (int call = 0; call < 2; ++call) {
        QCOMPARE(ZelkoStaticData::pid(), QStringLiteral("10010"));
        QCOMPARE(ZelkoStaticData::cid(), QStringLiteral("C1000"));
        QCOMPARE(ZelkoStaticData::vid(), QStringLiteral("21001002"));
    }
}

void ZelkoStaticDataTest::infoText_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all empty") << QStringList{"", "", "", "", ""}
                               << R"({imei:"",productName:"",model:"",osVersion:"",firmwareVersion:""})";
    QTest::newRow("plain")
        << QStringList{"356938035643809", "N9", "RM-696", "1.2", "PR1.3"}
        << R"({imei:"356938035643809",productName:"N9",model:"RM-696",osVersion:"1.2",firmwareVersion:"PR1.3"})";
    QTest::newRow("quote and backslash kept")
        << QStringList{"1", "say \"hi\"", "a\\b", " sp ", "ü"}
        << R"({imei:"1",productName:"say "hi"",model:"a\b",osVersion:" sp ",firmwareVersion:"ü"})";
}

void ZelkoStaticDataTest::infoText()
{
    QFETCH(QStringList, values);
    QFETCH(QString, expected);
    QCOMPARE(ZelkoStaticData::infoText(values[0], values[1], values[2], values[3], values[4]), expected);
}

void ZelkoStaticDataTest::infoFromSource()
{
    FakeDevice device;
    ZelkoTesting::setDeviceSource(&device);
    QTest::ignoreMessage(QtDebugMsg, infoLine);
    QCOMPARE(ZelkoStaticData::info(),
             QStringLiteral(R"({imei:"356938035643809",productName:"Librem 5",model:"Evergreen",)"
                            R"(osVersion:"12",firmwareVersion:"6.1.0-13"})"));
    QCOMPARE(device.asked, QVector<int>({1, 1, 1, 1, 1}));
}

void ZelkoStaticDataTest::uidIsTheImeiAlone()
{
    FakeDevice device;
    ZelkoTesting::setDeviceSource(&device);
    QCOMPARE(ZelkoStaticData::uid(), QStringLiteral("356938035643809"));
    // Nothing else is asked, and nothing is logged.
    QCOMPARE(device.asked, QVector<int>({1, 0, 0, 0, 0}));
    QTest::ignoreMessage(QtDebugMsg, infoLine);
    QVERIFY(ZelkoStaticData::info().startsWith("{imei:\"" + ZelkoStaticData::uid() + "\","));
}

void ZelkoStaticDataTest::infoAsksAnewEachCall()
{
    FakeDevice device;
    ZelkoTesting::setDeviceSource(&device);
    QTest::ignoreMessage(QtDebugMsg, infoLine);
    const QString first = ZelkoStaticData::info();
    device.values[3] = QStringLiteral("13");
    device.values[0] = QString();
    QTest::ignoreMessage(QtDebugMsg, infoLine);
    const QString second = ZelkoStaticData::info();
    QVERIFY(first.contains(QLatin1String("osVersion:\"12\"")));
    QVERIFY(second.contains(QLatin1String("osVersion:\"13\"")));
    QVERIFY(second.startsWith(QLatin1String("{imei:\"\",")));
    QCOMPARE(ZelkoStaticData::uid(), QString());
    QCOMPARE(device.asked, QVector<int>({3, 2, 2, 2, 2}));
}

void ZelkoStaticDataTest::serviceUrlForm_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("isDefault");
    // What a packager's build compiles in, and what this build did (scripts/build.sh points it
    // at the service on loopback).
    QTest::newRow("the default") << QStringLiteral("http://search.zelko.example:80/search") << true;
    QTest::newRow("the build's") << ZelkoStaticData::serviceUrl()
                                 << (ZelkoStaticData::serviceUrl()
                                     == "http://search.zelko.example:80/search");
}

void ZelkoStaticDataTest::serviceUrlForm()
{
    QFETCH(QString, url);
    QFETCH(bool, isDefault);
    // Plain http, a host, the port written out, one path segment; nothing else.
    static const QRegularExpression form(
        QStringLiteral("^http://([A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)*):([0-9]+)/([A-Za-z0-9._~-]+)$"));
    const QRegularExpressionMatch match = form.match(url);
    QVERIFY2(match.hasMatch(), qPrintable(url));
    if (isDefault) {
        QCOMPARE(match.captured(3), QStringLiteral("80"));
        QVERIFY(!match.captured(1).startsWith(QLatin1String("127.")) && match.captured(1) != "localhost");
    }
    const QUrl parsed(url);
    QCOMPARE(parsed.scheme(), QStringLiteral("http"));
    QCOMPARE(parsed.path(), QLatin1Char('/') + match.captured(4));

    const QString host = ZelkoStaticData::serviceHost();
    static const QRegularExpression bareHost(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$"));
    QVERIFY2(bareHost.match(host).hasMatch(), qPrintable(host));
}

void ZelkoStaticDataTest::serviceUrlSeam()
{
    const QString built = ZelkoStaticData::serviceUrl();
    ZelkoTesting::setServiceUrl(QStringLiteral("http://127.0.0.1:9/test"));
    QCOMPARE(ZelkoStaticData::serviceUrl(), QStringLiteral("http://127.0.0.1:9/test"));
    ZelkoTesting::setServiceUrl(QString());
    QCOMPARE(ZelkoStaticData::serviceUrl(), built);
}

QTEST_GUILESS_MAIN(ZelkoStaticDataTest)
#include "zelkostaticdatatest.moc"
