#include "zelkodevice.h"
#include "zelkostaticdata.h"
#include "zelkotesting.h"

#include <QRegularExpression>
#include <QtTest>

#include <sys/utsname.h>

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

// A file's first line or, for the device tree, its text up to the NUL; "" when missing.
QString firstValue(const QStringList &paths)
{
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString value = QString::fromUtf8(file.readAll().split('\0').value(0)).trimmed();
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

// A field of the machine's os-release as its plain KEY="value" lines write it.
QString osReleaseField(const QString &key)
{
    QFile file(QStringLiteral("/etc/os-release"));
    if (!file.open(QIODevice::ReadOnly))
        file.setFileName(QStringLiteral("/usr/lib/os-release"));
    if (!file.isOpen() && !file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray prefix = key.toLatin1() + '=';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.startsWith(prefix))
            continue;
        QByteArray value = line.mid(prefix.size()).trimmed();
        if (value.size() >= 2 && (value.startsWith('"') || value.startsWith('\''))
            && value.endsWith(value.at(0)))
            value = value.mid(1, value.size() - 2);
        return QString::fromUtf8(value);
    }
    return QString();
}

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
    void platformSourceByDefault();
    void serviceUrlIsTheBuilt();
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

// What this machine says of itself, read here without the device layer.
void ZelkoStaticDataTest::platformSourceByDefault()
{
    struct utsname system;
    QCOMPARE(uname(&system), 0);
    const QString model = firstValue({QStringLiteral("/proc/device-tree/model"),
                                      QStringLiteral("/sys/firmware/devicetree/base/model"),
                                      QStringLiteral("/sys/class/dmi/id/product_name")});
    const QString expected = ZelkoStaticData::infoText(
        QString(), osReleaseField(QStringLiteral("PRETTY_NAME")), model,
        osReleaseField(QStringLiteral("VERSION_ID")), QString::fromLocal8Bit(system.release));
    QTest::ignoreMessage(QtDebugMsg, infoLine);
    QCOMPARE(ZelkoStaticData::info(), expected);
    QCOMPARE(ZelkoStaticData::uid(), QString());
}

void ZelkoStaticDataTest::serviceUrlIsTheBuilt()
{
    QCOMPARE(ZelkoStaticData::serviceUrl(), QStringLiteral(ZELKO_SERVICE_URL));
}

void ZelkoStaticDataTest::serviceUrlForm_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("isDefault");
    QTest::newRow("the build's") << QStringLiteral(
        ZELKO_SERVICE_URL) << (QLatin1String(ZELKO_SERVICE_URL) == QLatin1String(ZELKO_DEFAULT_SERVICE_URL));
    QTest::newRow("the default") << QStringLiteral(ZELKO_DEFAULT_SERVICE_URL) << true;
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
    ZelkoTesting::setServiceUrl(QStringLiteral("http://127.0.0.1:9/test"));
    QCOMPARE(ZelkoStaticData::serviceUrl(), QStringLiteral("http://127.0.0.1:9/test"));
    ZelkoTesting::setServiceUrl(QString());
    QCOMPARE(ZelkoStaticData::serviceUrl(), QStringLiteral(ZELKO_SERVICE_URL));
}

QTEST_GUILESS_MAIN(ZelkoStaticDataTest)
#include "zelkostaticdatatest.moc"
