#include "fakedbus.h"
#include "zelkodevice.h"
#include "zelkostaticdata.h"
#include "zelkotesting.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <signal.h>
#include <sys/utsname.h>

namespace {

const char infoLine[] = "**********MOBILITY_SYSTEMINFO************";
const char printImeiArgument[] = "--print-imei";

const QString mmService = QStringLiteral("org.freedesktop.ModemManager1");
const QString mmPath = QStringLiteral("/org/freedesktop/ModemManager1");
const QString mmModem = QStringLiteral("org.freedesktop.ModemManager1.Modem");
const QString objectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString ofonoService = QStringLiteral("org.ofono");
const QString ofonoManager = QStringLiteral("org.ofono.Manager");
// What dbusmock's ofono template reports as its first modem's Serial.
const QString templateSerial = QStringLiteral("12345678-1234-1234-1234-000000000000");

const QString imeiA = QStringLiteral("356938035643809");
const QString imeiB = QStringLiteral("490154203237518");

// One question of the IMEI asks at most two services, each bounded by the device layer's
// own timeout; a correctness bound, generous for a loaded machine, far below libdbus's default of 25 s.
constexpr qint64 questionBoundMs = 5000;

enum Service {
    Absent,
    Answers,
    Template,
    Garbage,
    Stalled
};

QString kernelRelease()
{
    struct utsname system;
    return uname(&system) == 0 ? QString::fromLocal8Bit(system.release) : QString();
}

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(ZELKO_TEST_DATA "/device/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing fixture");
}

} // namespace

class ZelkoDeviceTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void imei_data();
    void imei();
    void withoutBus_data();
    void withoutBus();
    void files_data();
    void files();
    void filesReadAnew();

private:
    bool startModemManager(int setup, const QVariantList &objects, QString *error);
    bool startOfono(int setup, const QVariantList &modems, QString *error);

    PrivateBus m_bus;
    QTemporaryDir m_phone;
    std::vector<std::unique_ptr<FakeService>> m_services;
};

void ZelkoDeviceTest::initTestCase()
{
    qDBusRegisterMetaType<MockMethod>();
    qDBusRegisterMetaType<QList<MockMethod>>();

    QVERIFY2(hasDBusMock(), "/usr/bin/python3 cannot import dbusmock (Debian: python3-dbusmock)");

    // Set before anything here connects: QtDBus keeps its first system bus for the process.
    QString error;
    QVERIFY2(m_bus.start(QStringLiteral("unix:dir=%1"), {mmService, ofonoService}, &error),
             qPrintable(error));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address().toUtf8());
    QDBusConnection bus = QDBusConnection::systemBus();
    QVERIFY2(bus.isConnected(), qPrintable(bus.lastError().message()));
    // The bus answers for itself with its process: ours, not the machine's.
    const QDBusReply<uint> daemon = bus.interface()->servicePid(QStringLiteral("org.freedesktop.DBus"));
    QCOMPARE(qint64(daemon.value()), m_bus.processId());

    // The IMEI cases read their files here, so that info() is known in full.
    QVERIFY(m_phone.isValid());
    QVERIFY(
        writeFile(m_phone.filePath(QStringLiteral("etc/os-release")), fixture("postmarketos-os-release")));
    QVERIFY(writeFile(m_phone.filePath(QStringLiteral("proc/device-tree/model")),
                      QByteArray("PINE64 PinePhone (1.2)\0", 23)));
}

void ZelkoDeviceTest::cleanup()
{
    for (const auto &service : m_services)
        QVERIFY(service->stop());
    m_services.clear();
    m_bus.forgetActivations();
    ZelkoTesting::setDeviceRoot(QString());
}

bool ZelkoDeviceTest::startModemManager(int setup, const QVariantList &objects, QString *error)
{
    if (setup == Absent)
        return true;
    m_services.push_back(std::make_unique<FakeService>(mmService, mmPath));
    FakeService &service = *m_services.back();
    if (!service.start(m_bus.address(), {QStringLiteral("-m"), mmService, mmPath, mmService}, error))
        return false;
    for (const QVariant &entry : objects) {
        const QVariantList object = entry.toList();
        QVariantMap properties;
        if (object.value(2).isValid())
            properties.insert(QStringLiteral("EquipmentIdentifier"), object.value(2));
        if (!service.mock(
                QStringLiteral("AddObject"),
                {object.value(0), object.value(1), properties, QVariant::fromValue(QList<MockMethod>())},
                error))
            return false;
    }
    if (setup == Garbage
        && !service.mock(QStringLiteral("AddMethod"),
                         {objectManager, QStringLiteral("GetManagedObjects"), QString(), QStringLiteral("s"),
                          QStringLiteral("ret = 'garbage'")},
                         error))
        return false;
    if (setup == Stalled)
        service.stall();
    return true;
}

bool ZelkoDeviceTest::startOfono(int setup, const QVariantList &modems, QString *error)
{
    if (setup == Absent)
        return true;
    m_services.push_back(std::make_unique<FakeService>(ofonoService, QStringLiteral("/")));
    FakeService &service = *m_services.back();
    if (setup == Template || setup == Stalled) {
        if (!service.start(m_bus.address(), {QStringLiteral("--template"), QStringLiteral("ofono")}, error))
            return false;
        if (setup == Stalled)
            service.stall();
        return true;
    }
    if (!service.start(m_bus.address(), {ofonoService, QStringLiteral("/"), ofonoManager}, error))
        return false;
    QStringList entries;
    for (const QVariant &entry : modems) {
        const QVariantList modem = entry.toList();
        const QString serial =
            modem.value(1).isValid()
                ? QStringLiteral("'Serial': ") + pythonValue(modem.value(1)) + QStringLiteral(", ")
                : QString();
        entries << QStringLiteral("(dbus.ObjectPath('%1'), {%2'Powered': True})")
                       .arg(modem.value(0).toString(), serial);
    }
    const bool garbage = setup == Garbage;
    return service.mock(
        QStringLiteral("AddMethod"),
        {ofonoManager, QStringLiteral("GetModems"), QString(),
         garbage ? QStringLiteral("s") : QStringLiteral("a(oa{sv})"),
         garbage ? QStringLiteral("ret = 'garbage'")
                 : QStringLiteral("ret = [") + entries.join(QStringLiteral(", ")) + QLatin1Char(']')},
        error);
}

void ZelkoDeviceTest::imei_data()
{
    QTest::addColumn<int>("modemManager");
    QTest::addColumn<QVariantList>("objects"); // path, interface, EquipmentIdentifier (invalid: none)
    QTest::addColumn<int>("ofono");
    QTest::addColumn<QVariantList>("modems"); // path, Serial (invalid: none)
    QTest::addColumn<QString>("imei");

    const auto modem = [](const QString &path, const QVariant &identifier) {
        return QVariantList{QStringLiteral("/org/freedesktop/ModemManager1/Modem/") + path, mmModem,
                            identifier};
    };
    const QVariantList one{modem(QStringLiteral("0"), imeiA)};

    QTest::newRow("neither") << int(Absent) << QVariantList() << int(Absent) << QVariantList() << QString();
    QTest::newRow("ModemManager alone") << int(Answers) << one << int(Absent) << QVariantList() << imeiA;
    QTest::newRow("ModemManager, numbered paths in number order")
        << int(Answers) << QVariantList{modem(QStringLiteral("10"), imeiB), modem(QStringLiteral("2"), imeiA)}
        << int(Absent) << QVariantList() << imeiA;
    QTest::newRow("ModemManager, a number against a name as text")
        << int(Answers)
        << QVariantList{modem(QStringLiteral("Z"), imeiA), modem(QStringLiteral("100"), imeiB)} << int(Absent)
        << QVariantList() << imeiB;
    QTest::newRow("ModemManager, first modem without identifier")
        << int(Answers)
        << QVariantList{modem(QStringLiteral("0"), QVariant()), modem(QStringLiteral("1"), imeiA)}
        << int(Absent) << QVariantList() << imeiA;
    QTest::newRow("ModemManager, identifiers of other types")
        << int(Answers)
        << QVariantList{modem(QStringLiteral("0"), 356938035), modem(QStringLiteral("1"), QStringList{imeiB}),
                        modem(QStringLiteral("2"), imeiA)}
        << int(Absent) << QVariantList() << imeiA;
    QTest::newRow("ModemManager, identifiers unfit for info()")
        << int(Answers)
        << QVariantList{modem(QStringLiteral("0"), QStringLiteral("3569\"38")),
                        modem(QStringLiteral("1"), QStringLiteral("3569\\38")),
                        modem(QStringLiteral("2"), QStringLiteral("3569 38")),
                        modem(QStringLiteral("3"), QStringLiteral("3569\n38")),
                        modem(QStringLiteral("4"), QStringLiteral("35693\u00e98")),
                        modem(QStringLiteral("5"), QString(65, QLatin1Char('3'))),
                        modem(QStringLiteral("6"), QStringLiteral("  ")),
                        modem(QStringLiteral("7"), imeiA)}
        << int(Absent) << QVariantList() << imeiA;
    QTest::newRow("ModemManager, identifier trimmed")
        << int(Answers)
        << QVariantList{modem(QStringLiteral("0"), QLatin1Char(' ') + imeiA + QLatin1Char('\n'))}
        << int(Absent) << QVariantList() << imeiA;
    QTest::newRow("ModemManager, objects that are not modems")
        << int(Answers)
        << QVariantList{QVariantList{QStringLiteral("/org/freedesktop/ModemManager1/Bearer/0"),
                                     QStringLiteral("org.freedesktop.ModemManager1.Bearer"), imeiB},
                        modem(QStringLiteral("3"), imeiA)}
        << int(Absent) << QVariantList() << imeiA;
    QTest::newRow("oFono alone (dbusmock template)")
        << int(Absent) << QVariantList() << int(Template) << QVariantList() << templateSerial;
    QTest::newRow("both: ModemManager first")
        << int(Answers) << one << int(Template) << QVariantList() << imeiA;
    QTest::newRow("ModemManager without modems, then oFono")
        << int(Answers) << QVariantList() << int(Template) << QVariantList() << templateSerial;
    QTest::newRow("ModemManager with garbage, then oFono")
        << int(Garbage) << one << int(Template) << QVariantList() << templateSerial;
    QTest::newRow("ModemManager with garbage alone")
        << int(Garbage) << one << int(Absent) << QVariantList() << QString();
    QTest::newRow("oFono with garbage")
        << int(Absent) << QVariantList() << int(Garbage) << QVariantList() << QString();
    QTest::newRow("oFono, modems in its own order")
        << int(Absent) << QVariantList() << int(Answers)
        << QVariantList{QVariantList{QStringLiteral("/ril_1"), imeiB},
                        QVariantList{QStringLiteral("/ril_0"), imeiA}}
        << imeiB;
    QTest::newRow("oFono, first usable serial")
        << int(Absent) << QVariantList() << int(Answers)
        << QVariantList{QVariantList{QStringLiteral("/ril_0"), 7},
                        QVariantList{QStringLiteral("/ril_1"), QVariant()},
                        QVariantList{QStringLiteral("/ril_2"), QStringLiteral("35\"69")},
                        QVariantList{QStringLiteral("/ril_3"), imeiA}}
        << imeiA;
    QTest::newRow("oFono without modems")
        << int(Absent) << QVariantList() << int(Answers) << QVariantList() << QString();
    QTest::newRow("ModemManager stalled, then oFono")
        << int(Stalled) << one << int(Template) << QVariantList() << templateSerial;
    QTest::newRow("ModemManager stalled alone")
        << int(Stalled) << one << int(Absent) << QVariantList() << QString();
    QTest::newRow("both stalled") << int(Stalled) << one << int(Stalled) << QVariantList() << QString();
    QTest::newRow("oFono stalled, ModemManager answers")
        << int(Answers) << one << int(Stalled) << QVariantList() << imeiA;
}

void ZelkoDeviceTest::imei()
{
    QFETCH(int, modemManager);
    QFETCH(QVariantList, objects);
    QFETCH(int, ofono);
    QFETCH(QVariantList, modems);
    QFETCH(QString, imei);

    QString error;
    QVERIFY2(startModemManager(modemManager, objects, &error), qPrintable(error));
    QVERIFY2(startOfono(ofono, modems, &error), qPrintable(error));
    ZelkoTesting::setDeviceRoot(m_phone.path());

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ZelkoStaticData::uid(), imei);
    QVERIFY2(timer.elapsed() < questionBoundMs, qPrintable(QString::number(timer.elapsed())));

    timer.restart();
    QTest::ignoreMessage(QtDebugMsg, infoLine);
    QCOMPARE(ZelkoStaticData::info(), ZelkoStaticData::infoText(imei, QStringLiteral("postmarketOS v23.12"),
                                                                QStringLiteral("PINE64 PinePhone (1.2)"),
                                                                QStringLiteral("v23.12"), kernelRelease()));
    QVERIFY2(timer.elapsed() < questionBoundMs, qPrintable(QString::number(timer.elapsed())));

    QVERIFY2(m_bus.activated().isEmpty(), qPrintable(m_bus.activated().join(QLatin1Char(' '))));
}

// The system bus is cached per process, so each address is tried by a child: this binary.
void ZelkoDeviceTest::withoutBus_data()
{
    QTest::addColumn<QString>("address"); // %1: a folder of the case's own
    QTest::addColumn<bool>("crashedBus");
    QTest::newRow("no socket") << QStringLiteral("unix:path=%1/none") << false;
    QTest::newRow("socket of a bus that is gone") << QString() << true;
    QTest::newRow("not an address") << QStringLiteral("nonsense") << false;
    QTest::newRow("unknown transport") << QStringLiteral("carrier-pigeon:loft=%1") << false;
}

void ZelkoDeviceTest::withoutBus()
{
    QFETCH(QString, address);
    QFETCH(bool, crashedBus);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrivateBus gone;
    if (crashedBus) {
        QString error;
        QVERIFY2(gone.start(QStringLiteral("unix:path=%1/socket"), {}, &error), qPrintable(error));
        gone.stop();
        address = gone.address();
        QVERIFY(address.contains(QLatin1String("/socket")));
    } else if (address.contains(QLatin1String("%1"))) {
        address = address.arg(folder.path());
    }

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
    child.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(printImeiArgument)});
    QVERIFY(child.waitForFinished(fakeDBusStartMs));
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0, child.readAllStandardError().constData());
    QCOMPARE(child.readAllStandardOutput(), QByteArray("imei=\n"));
    // Its start, the question, and its exit.
    QVERIFY2(elapsed < questionBoundMs, qPrintable(QString::number(elapsed)));
}

void ZelkoDeviceTest::files_data()
{
    QTest::addColumn<QVariantMap>("files"); // path under the root, content
    QTest::addColumn<QString>("info");      // %1: the kernel's release

    const QString etc = QStringLiteral("etc/os-release");
    const QString usrLib = QStringLiteral("usr/lib/os-release");
    const QString procTree = QStringLiteral("proc/device-tree/model");
    const QString sysTree = QStringLiteral("sys/firmware/devicetree/base/model");
    const QString dmi = QStringLiteral("sys/class/dmi/id/");
    const QByteArray pinephone("PINE64 PinePhone (1.2)\0", 23);
    const auto info = [](const char *product, const char *model, const char *os) {
        return QStringLiteral(
                   "{imei:\"\",productName:\"%1\",model:\"%2\",osVersion:\"%3\",firmwareVersion:\"%4\"}")
            .arg(QString::fromUtf8(product), QString::fromUtf8(model), QString::fromUtf8(os),
                 QStringLiteral("%1"));
    };

    QTest::newRow("phone: postmarketOS, device tree")
        << QVariantMap{{etc, fixture("postmarketos-os-release")}, {procTree, pinephone}}
        << info("postmarketOS v23.12", "PINE64 PinePhone (1.2)", "v23.12");
    QTest::newRow("phone: os-release in /usr/lib, device tree in /sys")
        << QVariantMap{{usrLib,
                        QByteArray("NAME=Mobian\nPRETTY_NAME=\"Mobian bookworm\"\nVERSION_ID=\"12\"\n")},
                       {sysTree, QByteArray("Purism Librem 5r4\0", 18)}}
        << info("Mobian bookworm", "Purism Librem 5r4", "12");
    QTest::newRow("PC: Debian, DMI")
        << QVariantMap{{etc, fixture("debian-os-release")},
                       {dmi + QStringLiteral("product_name"), QByteArray("ThinkPad X13 Gen 1\n")},
                       {dmi + QStringLiteral("sys_vendor"), QByteArray("LENOVO\n")},
                       {dmi + QStringLiteral("product_version"), QByteArray("ThinkPad X13 Gen 1\n")}}
        << info("Debian GNU/Linux 12 (bookworm)", "ThinkPad X13 Gen 1", "12");
    QTest::newRow("device tree before DMI")
        << QVariantMap{{procTree, pinephone}, {dmi + QStringLiteral("product_name"), QByteArray("Board\n")}}
        << info("", "PINE64 PinePhone (1.2)", "");
    QTest::newRow("empty device tree model, then DMI")
        << QVariantMap{{procTree, QByteArray("\0", 1)},
                       {sysTree, QByteArray("\n")},
                       {dmi + QStringLiteral("product_name"), QByteArray("  Board 7 \n")}}
        << info("", "Board 7", "");
    QTest::newRow("/etc before /usr/lib")
        << QVariantMap{{etc, QByteArray("PRETTY_NAME=Etc\n")},
                       {usrLib, QByteArray("PRETTY_NAME=UsrLib\nVERSION_ID=9\n")}}
        << info("Etc", "", "");
    QTest::newRow("no PRETTY_NAME: NAME and VERSION")
        << QVariantMap{{etc, QByteArray("NAME=\"Sailfish OS\"\nVERSION=\"4.5.0.19 (Struven ketju)\"\n")}}
        << info("Sailfish OS 4.5.0.19 (Struven ketju)", "", "");
    QTest::newRow("no PRETTY_NAME: NAME alone")
        << QVariantMap{{etc, QByteArray("NAME=Alpine\nID=alpine\n")}} << info("Alpine", "", "");
    QTest::newRow("shell quoting")
        << QVariantMap{{etc, QByteArray("# a comment\n\n  PRETTY_NAME='Single \"quoted\" $HOME'  \n"
                                        "VERSION_ID=\"1.0\"\nVERSION_ID=\"2.\\\"b\\\"\\\\\\$x\"\r\n")}}
        << info("Single \"quoted\" $HOME", "", "2.\"b\"\\$x");
    static const char garbage[] = "\x7f"
                                  "ELF\x01\x00\x00\xff\xfe\n"
                                  "PRETTY_NAME=\"unterminated\n"
                                  "=12\nVERSION_ID\n1VERSION_ID=3\nVERSION-ID=4\n";
    QTest::newRow("garbage os-release")
        << QVariantMap{{etc, QByteArray(garbage, sizeof garbage - 1)}} << info("", "", "");
    QTest::newRow("oversized os-release")
        << QVariantMap{{etc, QByteArray("PRETTY_NAME=Big\n") + QByteArray(70 * 1024, '#')}}
        << info("", "", "");
    QTest::newRow("folders in place of files")
        << QVariantMap{{etc + QStringLiteral("/x"), QByteArray("PRETTY_NAME=No\n")},
                       {procTree + QStringLiteral("/x"), QByteArray("No")}}
        << info("", "", "");
    QTest::newRow("nothing") << QVariantMap() << info("", "", "");
}

// The platform's own source, reading its files under a root of the test's own.
void ZelkoDeviceTest::files()
{
    QFETCH(QVariantMap, files);
    QFETCH(QString, info);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    for (auto file = files.constBegin(); file != files.constEnd(); ++file)
        QVERIFY(writeFile(root.filePath(file.key()), file.value().toByteArray()));
    ZelkoTesting::setDeviceRoot(root.path());
    // No modem service on the bus: the IMEI, and so uid(), is empty.
    QCOMPARE(ZelkoStaticData::uid(), QString());
    QTest::ignoreMessage(QtDebugMsg, infoLine);
    QCOMPARE(ZelkoStaticData::info(), info.arg(kernelRelease()));
}

void ZelkoDeviceTest::filesReadAnew()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString release = root.filePath(QStringLiteral("etc/os-release"));
    const QString model = root.filePath(QStringLiteral("proc/device-tree/model"));
    QVERIFY(writeFile(release, "PRETTY_NAME=One\nVERSION_ID=1\n"));
    QVERIFY(writeFile(model, "First"));
    ZelkoTesting::setDeviceRoot(root.path());
    const ZelkoDeviceSource &device = ZelkoDeviceSource::current();
    QCOMPARE(device.productName(), QStringLiteral("One"));
    QCOMPARE(device.osVersion(), QStringLiteral("1"));
    QCOMPARE(device.model(), QStringLiteral("First"));

    QVERIFY(writeFile(release, "PRETTY_NAME=Two\nVERSION_ID=2\n"));
    QVERIFY(QFile::remove(model));
    QCOMPARE(device.productName(), QStringLiteral("Two"));
    QCOMPARE(device.osVersion(), QStringLiteral("2"));
    QCOMPARE(device.model(), QString());
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String(printImeiArgument)) {
        std::printf("imei=%s\n", ZelkoDeviceSource::current().imei().toUtf8().constData());
        return 0;
    }
    ZelkoDeviceTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "zelkodevicetest.moc"
