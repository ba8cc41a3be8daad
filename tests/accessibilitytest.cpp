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
    void nodes_data();
    void nodes();
    void everyWrittenTextIsRead_data();
    void everyWrittenTextIsRead();
    void resultRowsReadThemselves();

private:
    bool startBuses(QString *error);

    struct Node
    {
        QString role, name;
        QStringList states;
    };
    ReferenceService m_service;
    Weston m_weston;
    QProcess m_sessionBus;
    QProcess m_launcher;
    QString m_address;
    // Per step of the client: what the screen reader found, in tree order, and the texts on screen.
    QMap<QString, QList<Node>> m_tree;
    QMap<QString, QStringList> m_written;
    QJsonArray m_results;
};

static const QStringList steps{QStringLiteral("results"), QStringLiteral("error"), QStringLiteral("details"),
                               QStringLiteral("about")};

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
    client.start(m_service.searchUrl(), steps, [this](QProcessEnvironment &env) {
        m_weston.addClientEnvironment(env);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    });
    for (const QString &step : steps) {
        const QJsonObject report = client.next();
        QVERIFY2(report.value("step").toString() == step,
                 qPrintable(step + QStringLiteral(": ") + client.log()));
        if (step == QLatin1String("results"))
            m_results = report.value("results").toArray();
        for (const QJsonValue &text : report.value("walk").toObject().value("written").toArray())
            m_written[step].append(text.toString());
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
        for (const QJsonValue &node : QJsonDocument::fromJson(reader.readAllStandardOutput()).array()) {
            const QJsonArray n = node.toArray();
            QStringList states;
            for (const QJsonValue &state : n.at(2).toArray())
                states.append(state.toString());
            m_tree[step].append({n.at(0).toString(), n.at(1).toString(), states});
        }
        client.proceed();
    }
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

void AccessibilityTest::nodes_data()
{
    // At a step of the client, a node of that role whose name holds the text given, with the
    // states given ("!enabled": without it). AT-SPI's names for Qt's roles.
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("states");
    const auto row = [](const char *step, const char *role, const char *name,
                        const QStringList &states = {}) {
        QTest::addRow("%s: %s %s", step, role, name) << step << role << QString::fromUtf8(name) << states;
    };
    row("results", "application", "Zelko");
    row("results", "frame", "Zelko");
    row("results", "heading", "Zelko");
    row("about", "heading", "About Zelko");
    row("about", "heading", "This device");
    row("results", "text", "Search query");
    row("results", "push button", "Search", {"enabled"});
    row("results", "push button", "About");
    row("results", "list", "Results");
    row("results", "push button", "More results");
    // What arrived is said: the status line has the focus.
    row("results", "label", "packages for “qt”", {"focused"});
    row("error", "label", "The service rejected the query's signature.", {"focused"});
    row("error", "push button", "Retry", {"enabled"});
    row("details", "push button", "‹ Back");
    row("about", "label", "Version: 21001002");
    // No control is shown disabled: Qt's bridge would call it enabled.
    row("about", "push button", "Send", {"enabled", "sensitive"});
}

void AccessibilityTest::nodes()
{
    QFETCH(QString, step);
    QFETCH(QString, role);
    QFETCH(QString, name);
    QFETCH(QStringList, states);
    QStringList found;
    const QList<Node> tree = m_tree.value(step);
    for (const Node &node : tree) {
        found.append(node.role + QLatin1Char('=') + node.name + QLatin1Char('(') + node.states.join(',')
                     + ')');
        if (node.role != role || !node.name.contains(name))
            continue;
        const bool all = std::all_of(states.begin(), states.end(), [&node](const QString &state) {
            return state.startsWith('!') ? !node.states.contains(state.mid(1)) : node.states.contains(state);
        });
        if (all)
            return;
    }
    QFAIL(qPrintable(found.join(QStringLiteral(" | "))));
}

void AccessibilityTest::everyWrittenTextIsRead_data()
{
    QTest::addColumn<QString>("step");
    for (const QString &step : steps)
        QTest::newRow(qPrintable(step)) << step;
}

// Every text on screen is in some node's name: nothing is shown that a screen reader cannot say.
void AccessibilityTest::everyWrittenTextIsRead()
{
    QFETCH(QString, step);
    QVERIFY(!m_written.value(step).isEmpty());
    const QList<Node> tree = m_tree.value(step);
    QStringList unread;
    for (const QString &text : m_written.value(step))
        if (std::none_of(tree.begin(), tree.end(),
                         [&text](const Node &node) { return node.name.contains(text); }))
            unread.append(text);
    QVERIFY2(unread.isEmpty(), qPrintable(unread.join(QStringLiteral(" | "))));
}

// A row reads as its package's name, version and summary.
void AccessibilityTest::resultRowsReadThemselves()
{
    QVERIFY(m_results.size() >= 3);
    for (const QJsonValue &r : qAsConst(m_results)) {
        const QJsonObject o = r.toObject();
        const QString name = o.value("name").toString() + QLatin1Char(' ') + o.value("version").toString()
                             + QStringLiteral(", ") + o.value("summary").toString();
        const QList<Node> tree = m_tree.value("results");
        QVERIFY2(
            std::any_of(tree.begin(), tree.end(),
                        [&name](const Node &node) { return node.role == "list item" && node.name == name; }),
            qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(AccessibilityTest)
#include "accessibilitytest.moc"
