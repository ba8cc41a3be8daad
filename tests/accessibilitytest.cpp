#include "drivenclient.h"
#include "referenceservice.h"
#include "skips.h"
#include "weston.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QtTest>

// The client as a screen reader finds it: its accessibility tree read over AT-SPI, as on a
// phone's desktop, from the real client under Wayland with a session bus and an
// accessibility bus (at-spi-bus-launcher) of the test's own.
class AccessibilityTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void controlsByRoleAndName_data();
    void controlsByRoleAndName();
    void resultRowsReadNameAndSummary();

private:
    bool startBuses(QString *error);

    ReferenceService m_service;
    Weston m_weston;
    QProcess m_sessionBus;
    QProcess m_launcher;
    QString m_address;
    // What the screen reader found, [role, name] in tree order; the results on screen.
    QList<QPair<QString, QString>> m_tree;
    QJsonArray m_results;
};

bool AccessibilityTest::startBuses(QString *error)
{
    // setpriv ends them with a test that dies.
    m_sessionBus.start(QStringLiteral("setpriv"),
                       {QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), QStringLiteral("--"),
                        QStringLiteral("dbus-daemon"), QStringLiteral("--session"),
                        QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!QTest::qWaitFor(
            [this] { return m_sessionBus.canReadLine() || m_sessionBus.state() == QProcess::NotRunning; },
            20000)) {
        *error = QStringLiteral("dbus-daemon gave no address");
        return false;
    }
    m_address = QString::fromUtf8(m_sessionBus.readLine()).trimmed();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    m_weston.addClientEnvironment(env);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    m_launcher.setProcessEnvironment(env);
    m_launcher.setProcessChannelMode(QProcess::MergedChannels);
    m_launcher.start(QStringLiteral("setpriv"),
                     {QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), QStringLiteral("--"),
                      QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                      QStringLiteral("--launch-immediately")});
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("accessibilitytest"));
    if (!QTest::qWaitFor(
            [&bus] { return bus.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus")).value(); },
            20000)) {
        *error = QStringLiteral("at-spi-bus-launcher did not start: ")
                 + QString::fromLocal8Bit(m_launcher.readAll());
        return false;
    }
    return true;
}

void AccessibilityTest::initTestCase()
{
    if (Weston::binary().isEmpty()
        || !QFileInfo(QStringLiteral("/usr/libexec/at-spi-bus-launcher")).isExecutable())
        ZELKO_SKIP_WITHOUT_TOOL("weston and at-spi2-core (scripts/deps.sh installs them)");
    QVERIFY2(m_service.start(), qPrintable(m_service.log()));
    QVERIFY2(m_weston.start(QSize(480, 800)), qPrintable(m_weston.error()));
    QString error;
    QVERIFY2(startBuses(&error), qPrintable(error));

    DrivenClient client;
    QVERIFY(client.isValid());
    client.start(m_service.searchUrl(), {QStringLiteral("results")}, [this](QProcessEnvironment &env) {
        m_weston.addClientEnvironment(env);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    });
    const QJsonObject report = client.next();
    QVERIFY2(!report.isEmpty(), qPrintable(client.log()));
    m_results = report.value("results").toArray();

    // The reader asks while the client waits in its event loop, as it would between taps.
    // Debian's own Python, which has pyatspi, whatever python3 comes first on PATH.
    QProcess reader;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    m_weston.addClientEnvironment(env);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    reader.setProcessEnvironment(env);
    reader.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(ZELKO_ATSPI_TREE), QString::number(client.processId())});
    QVERIFY(QTest::qWaitFor([&reader] { return reader.state() == QProcess::NotRunning; }, 60000));
    const QByteArray said = reader.readAllStandardError();
    QVERIFY2(reader.exitCode() == 0, said.constData());
    for (const QJsonValue &node : QJsonDocument::fromJson(reader.readAllStandardOutput()).array())
        m_tree.append({node.toArray().at(0).toString(), node.toArray().at(1).toString()});
    client.proceed();
    QVERIFY2(client.finish(), qPrintable(client.log()));
}

void AccessibilityTest::cleanupTestCase()
{
    // The launcher ends its accessibility bus with it.
    for (QProcess *p : {&m_launcher, &m_sessionBus}) {
        p->terminate();
        if (!p->waitForFinished(10000))
            p->kill();
    }
}

void AccessibilityTest::controlsByRoleAndName_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("name");
    // AT-SPI's names for Qt's roles (EditableText, Button, List, ListItem).
    QTest::newRow("search field") << "text"
                                  << "Search query";
    QTest::newRow("search button") << "push button"
                                   << "Search";
    QTest::newRow("about") << "push button"
                           << "About";
    QTest::newRow("results") << "list"
                             << "Results";
    QTest::newRow("next page") << "push button"
                               << "Next ›";
}

void AccessibilityTest::controlsByRoleAndName()
{
    QFETCH(QString, role);
    QFETCH(QString, name);
    QStringList found;
    for (const auto &node : qAsConst(m_tree))
        found.append(node.first + QLatin1Char('=') + node.second);
    QVERIFY2(m_tree.contains({role, name}), qPrintable(found.join(QStringLiteral(" | "))));
}

// A row reads as its package's name and summary.
void AccessibilityTest::resultRowsReadNameAndSummary()
{
    QVERIFY(m_results.size() >= 3);
    for (const QJsonValue &r : qAsConst(m_results)) {
        const QString name = r.toObject().value("name").toString() + QStringLiteral(", ")
                             + r.toObject().value("summary").toString();
        QVERIFY2(m_tree.contains({QStringLiteral("list item"), name}), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(AccessibilityTest)
#include "accessibilitytest.moc"
