#include "fakedbus.h"
#include "zelkoappearance.h"
#include "zelkoregistration.h"

#include <QQmlComponent>
#include <QQmlEngine>

#include <QDBusPendingCallWatcher>
#include <QtTest>

#include <memory>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString failure =
    QStringLiteral("raise dbus.exceptions.DBusException('broken', name='org.freedesktop.DBus.Error.Failed')");

// Until then a read of the portal is still waiting for its answer.
bool settled(const ZelkoAppearance &appearance)
{
    return appearance.findChildren<QDBusPendingCallWatcher *>().isEmpty();
}

} // namespace

class ZelkoAppearanceTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void atStart_data();
    void atStart();
    void followsChanges();
    void screensFollow();

private:
    // ReadOne and Read run the given Python code; empty: no such method.
    bool startPortal(const QString &readOne, const QString &read, QString *error);
    bool emitSetting(const char *group, const char *key, uint value);

    PrivateBus m_bus;
    std::unique_ptr<FakeService> m_portal;
};

void ZelkoAppearanceTest::initTestCase()
{
    QVERIFY2(hasDBusMock(), "/usr/bin/python3 cannot import dbusmock (Debian: python3-dbusmock)");
    // The portal is on the session bus, fakedbus's services and calls on the system bus: one
    // private bus is both. Set before anything here connects.
    QString error;
    QVERIFY2(m_bus.start(QStringLiteral("unix:dir=%1"), {}, &error), qPrintable(error));
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address().toUtf8());
    const QDBusReply<uint> daemon =
        QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.DBus"));
    QCOMPARE(qint64(daemon.value()), m_bus.processId());
}

void ZelkoAppearanceTest::cleanup()
{
    QVERIFY(!m_portal || m_portal->stop());
    m_portal.reset();
}

bool ZelkoAppearanceTest::startPortal(const QString &readOne, const QString &read, QString *error)
{
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    m_portal = std::make_unique<FakeService>(portalService, path);
    // Like the portal, the methods know only the settings it holds.
    const QString known = QStringLiteral(
        "if args != ['org.freedesktop.appearance', 'color-scheme']:\n"
        "    raise dbus.exceptions.DBusException('unknown', name='org.freedesktop.portal.Error.NotFound')\n");
    if (!m_portal->start(m_bus.address(), {portalService, path, settingsInterface}, error))
        return false;
    for (const auto &method :
         {qMakePair(QStringLiteral("ReadOne"), readOne), qMakePair(QStringLiteral("Read"), read)}) {
        if (!method.second.isEmpty()
            && !m_portal->mock(QStringLiteral("AddMethod"),
                               {settingsInterface, method.first, QStringLiteral("ss"), QStringLiteral("v"),
                                known + method.second},
                               error))
            return false;
    }
    return true;
}

bool ZelkoAppearanceTest::emitSetting(const char *group, const char *key, uint value)
{
    QString error;
    return m_portal->mock(QStringLiteral("EmitSignal"),
                          {settingsInterface, QStringLiteral("SettingChanged"), QStringLiteral("ssv"),
                           QVariantList{QString::fromLatin1(group), QString::fromLatin1(key), value}},
                          &error);
}

void ZelkoAppearanceTest::atStart_data()
{
    QTest::addColumn<bool>("portal");
    QTest::addColumn<QString>("readOne");
    QTest::addColumn<QString>("read");
    QTest::addColumn<int>("colorScheme");
    QTest::addColumn<bool>("dark");

    QTest::newRow("ReadOne: dark") << true << QStringLiteral("ret = dbus.UInt32(1)") << QString() << 1
                                   << true;
    QTest::newRow("ReadOne: light") << true << QStringLiteral("ret = dbus.UInt32(2)") << QString() << 2
                                    << false;
    QTest::newRow("ReadOne: no preference")
        << true << QStringLiteral("ret = dbus.UInt32(0)") << QString() << 0 << false;
    QTest::newRow("Read alone, one variant deeper")
        << true << QString() << QStringLiteral("ret = dbus.UInt32(1, variant_level=2)") << 1 << true;
    QTest::newRow("no portal") << false << QString() << QString() << 0 << false;
    QTest::newRow("portal errors") << true << failure << failure << 0 << false;
}

void ZelkoAppearanceTest::atStart()
{
    QFETCH(bool, portal);
    QFETCH(QString, readOne);
    QFETCH(QString, read);
    QFETCH(int, colorScheme);
    QFETCH(bool, dark);

    QString error;
    QVERIFY2(!portal || startPortal(readOne, read, &error), qPrintable(error));
    const ZelkoAppearance appearance;
    QVERIFY(waitFor([&] { return settled(appearance); }));
    QCOMPARE(appearance.colorScheme(), colorScheme);
    QCOMPARE(appearance.dark(), dark);
}

void ZelkoAppearanceTest::followsChanges()
{
    QString error;
    QVERIFY2(startPortal(QStringLiteral("ret = dbus.UInt32(1)"), QString(), &error), qPrintable(error));
    ZelkoAppearance appearance;
    QVERIFY(waitFor([&] { return settled(appearance); }));
    QVERIFY(appearance.dark());
    QList<int> schemes;
    QList<bool> darks;
    connect(&appearance, &ZelkoAppearance::colorSchemeChanged, this,
            [&] { schemes << appearance.colorScheme(); });
    connect(&appearance, &ZelkoAppearance::darkChanged, this, [&] { darks << appearance.dark(); });

    QVERIFY(emitSetting("org.freedesktop.appearance", "color-scheme", 2));
    QVERIFY(emitSetting("org.freedesktop.appearance", "color-scheme", 1));
    QVERIFY(emitSetting("org.gnome.desktop.interface", "color-scheme", 2));
    QVERIFY(emitSetting("org.freedesktop.appearance", "contrast", 2));
    // Signals come in the order sent: once this one is in, so are those before it.
    QVERIFY(emitSetting("org.freedesktop.appearance", "color-scheme", 0));
    QVERIFY(waitFor([&] { return schemes.value(schemes.size() - 1, -1) == 0; }));
    QCOMPARE(schemes, (QList<int>{2, 1, 0}));
    QCOMPARE(darks, (QList<bool>{false, true, false}));
}

// The screens' colours follow, live: their Theme, with the module's own singleton.
void ZelkoAppearanceTest::screensFollow()
{
    QString error;
    QVERIFY2(startPortal(QStringLiteral("ret = dbus.UInt32(1)"), QString(), &error), qPrintable(error));
    zelkoRegisterQmlTypes();
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick 2.15\nimport \"file://" ZELKO_QML_DIR "\"\n"
                      "QtObject { property color page: Theme.page }",
                      QUrl());
    const std::unique_ptr<QObject> screen(component.create());
    QVERIFY2(screen, qPrintable(component.errorString()));
    const auto page = [&screen] { return screen->property("page").value<QColor>().name(); };
    // The fake's ReadOne does not follow its signals: a signal sent before its answer is in
    // would be undone by it, so the answer (dark) is waited for first.
    QVERIFY(waitFor([&] { return page() == "#121417"; }));
    for (const uint scheme : {2u, 1u}) {
        QVERIFY(emitSetting("org.freedesktop.appearance", "color-scheme", scheme));
        QVERIFY(waitFor([&] { return page() == (scheme == 1 ? "#121417" : "#f4f4f4"); }));
    }
}

QTEST_GUILESS_MAIN(ZelkoAppearanceTest)

#include "zelkoappearancetest.moc"
