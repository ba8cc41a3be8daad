#ifndef FAKEDBUS_H
#define FAKEDBUS_H

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>

#include <signal.h>

// Services on a D-Bus of a test's own: a bus daemon, and python3-dbusmock processes that
// own names on it and answer as the test tells them.

// A method as dbusmock's AddObject takes it: name, in and out signatures, Python code.
struct MockMethod
{
    QString name;
    QString inSignature;
    QString outSignature;
    QString code;
};
Q_DECLARE_METATYPE(MockMethod)

inline QDBusArgument &operator<<(QDBusArgument &argument, const MockMethod &method)
{
    argument.beginStructure();
    argument << method.name << method.inSignature << method.outSignature << method.code;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, MockMethod &method)
{
    argument.beginStructure();
    argument >> method.name >> method.inSignature >> method.outSignature >> method.code;
    argument.endStructure();
    return argument;
}

// For a service or bus to come up or go away; far above what any needs.
constexpr int fakeDBusStartMs = 30000;
// Debian's interpreter, where dbusmock is installed: the first python3 on PATH may be another.
extern const QString fakeDBusPython;
extern const QString fakeDBusMockInterface;

// Whether Debian's python3 imports dbusmock (python3-dbusmock), which every fake service needs.
bool hasDBusMock();
// A Python literal for a test value: a string, or an int sent as D-Bus int32.
QString pythonValue(const QVariant &value);
// A call on the system bus the test makes itself; it never starts a service either.
QDBusMessage busCall(const QString &service, const QString &path, const QString &interface,
                     const QString &method, const QVariantList &arguments = {});
// Polls condition within fakeDBusStartMs.
bool waitFor(const std::function<bool()> &condition);
bool writeFile(const QString &path, const QByteArray &content);

// A bus daemon of the test's own, with nothing but what the test puts on it. ModemManager
// and oFono are activatable on it, by a command that leaves a mark: a device layer that
// started a service would show.
class PrivateBus
{
public:
    ~PrivateBus() { stop(); }

    // listen: the address to listen on, %1 the bus's own folder; activatable: the names
    // that could be started on demand, by a command that only leaves a mark.
    bool start(const QString &listen, const QStringList &activatable, QString *error)
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        const QString touch = QStandardPaths::findExecutable(QStringLiteral("touch"));
        if (!m_dir.isValid() || daemon.isEmpty() || touch.isEmpty()) {
            *error = QStringLiteral("no temporary folder, dbus-daemon or touch");
            return false;
        }
        for (const QString &name : activatable) {
            const QByteArray service =
                "[D-BUS Service]\nName=" + name.toUtf8() + "\nExec=" + touch.toUtf8() + ' '
                + QFile::encodeName(m_dir.filePath(QStringLiteral("activated-") + name)) + '\n';
            if (!writeFile(m_dir.filePath(QStringLiteral("services/%1.service").arg(name)), service)) {
                *error = QStringLiteral("cannot write the service files");
                return false;
            }
        }
        const QString config =
            QStringLiteral(
                "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                "<busconfig>\n"
                "  <listen>%1</listen>\n"
                "  <auth>EXTERNAL</auth>\n"
                "  <servicedir>%2</servicedir>\n"
                "  <policy context=\"default\">\n"
                "    <allow user=\"*\"/>\n"
                "    <allow own=\"*\"/>\n"
                "    <allow send_destination=\"*\"/>\n"
                "    <allow receive_sender=\"*\"/>\n"
                "  </policy>\n"
                "</busconfig>\n")
                .arg(listen.arg(m_dir.path()).toHtmlEscaped(),
                     m_dir.filePath(QStringLiteral("services")).toHtmlEscaped());
        const QString configFile = m_dir.filePath(QStringLiteral("bus.conf"));
        if (!writeFile(configFile, config.toUtf8())) {
            *error = QStringLiteral("cannot write the bus configuration");
            return false;
        }
        m_daemon.start(daemon, {QStringLiteral("--config-file=") + configFile, QStringLiteral("--nofork"),
                                QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
        QDeadlineTimer deadline(fakeDBusStartMs);
        while (!m_daemon.canReadLine() && m_daemon.state() != QProcess::NotRunning && !deadline.hasExpired())
            m_daemon.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (m_address.isEmpty()) {
            *error = QStringLiteral("dbus-daemon gave no address: ")
                     + QString::fromLocal8Bit(m_daemon.readAllStandardError());
            return false;
        }
        return true;
    }

    // Gone at once, as after a crash: a socket file stays behind with nothing listening.
    void stop()
    {
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished(fakeDBusStartMs);
        }
    }

    QString address() const { return m_address; }

    qint64 processId() const { return m_daemon.processId(); }

    void forgetActivations()
    {
        for (const QString &mark : activated())
            QFile::remove(QDir(m_dir.path()).filePath(mark));
    }

    QStringList activated() const
    {
        return QDir(m_dir.path()).entryList({QStringLiteral("activated-*")}, QDir::Files);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// One dbusmock process owning one name on the private bus.
class FakeService
{
public:
    FakeService(const QString &name, const QString &path)
        : m_name(name)
        , m_path(path)
    {
    }
    ~FakeService() { stop(); }

    bool start(const QString &busAddress, const QStringList &arguments, QString *error)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
        environment.remove(QStringLiteral("PYTHONPATH"));
        environment.remove(QStringLiteral("PYTHONHOME"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(fakeDBusPython, QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                                    QStringLiteral("--system")}
                                            + arguments);
        // Ready once its main object answers as a mock: the name alone comes a little earlier.
        const bool ready = waitFor([this] {
            if (m_process.state() == QProcess::NotRunning)
                return true;
            const QDBusMessage reply =
                busCall(m_name, m_path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                        QStringLiteral("Introspect"));
            return reply.type() == QDBusMessage::ReplyMessage
                   && reply.arguments().value(0).toString().contains(fakeDBusMockInterface);
        });
        if (!ready || m_process.state() == QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(fakeDBusStartMs);
            *error = QStringLiteral("dbusmock for %1 did not come up: %2")
                         .arg(m_name, QString::fromLocal8Bit(m_process.readAll()));
            return false;
        }
        return true;
    }

    // Owns its name, takes every call and answers none.
    void stall() { ::kill(pid_t(m_process.processId()), SIGSTOP); }

    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        m_process.kill(); // SIGKILL ends a stopped process too
        m_process.waitForFinished(fakeDBusStartMs);
        return waitFor(
            [this] { return !QDBusConnection::systemBus().interface()->isServiceRegistered(m_name); });
    }

    bool mock(const QString &method, const QVariantList &arguments, QString *error)
    {
        const QDBusMessage reply = busCall(m_name, m_path, fakeDBusMockInterface, method, arguments);
        if (reply.type() != QDBusMessage::ReplyMessage)
            *error = method + QStringLiteral(": ") + reply.errorMessage();
        return reply.type() == QDBusMessage::ReplyMessage;
    }

private:
    QString m_name;
    QString m_path;
    QProcess m_process;
};

#endif
