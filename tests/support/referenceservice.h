#ifndef REFERENCESERVICE_H
#define REFERENCESERVICE_H

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real zelko-service binary in a child process, started on loopback and
// ready to answer when start() returns true. Stopped with its owner.
class ReferenceService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString searchUrl READ searchUrl)
    Q_PROPERTY(QString feedbackUrl READ feedbackUrl)
    Q_PROPERTY(QString log READ log)
public:
    explicit ReferenceService(QObject *parent = nullptr);
    ~ReferenceService() override;

    static QString binary();

    // Port 0 lets the service pick a free one; an empty status file means the real one.
    Q_INVOKABLE bool start(int port = 0, int httpsPort = 0, const QString &statusFile = QString(),
                           const QStringList &moreArguments = QStringList());
    // On a free port, as the service the Request element posts its queries to
    // (whatever address the build compiled in) until it stops.
    Q_INVOKABLE bool startAsService();
    // Whether it ended by itself, with exit code 0 (true when it was not running).
    Q_INVOKABLE bool stop();
    // The test run's environment, for a suite that takes a setting from it (a walk's seed).
    Q_INVOKABLE static QString environment(const QString &name)
    {
        return qEnvironmentVariable(qPrintable(name));
    }
    // Stopped (SIGSTOP), the service still takes connections, through the kernel, and
    // answers none: a stalled service, until it goes on.
    Q_INVOKABLE void pause(bool paused);

    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    int httpsPort() const { return m_httpsPort; }
    QString searchUrl() const;
    QString feedbackUrl() const;
    // Everything the service printed so far.
    QString log();
    // The certificate the service made for itself at its start, for a client to pin.
    QString certificate() const
    {
        return m_state.filePath(QStringLiteral("zelko-service/zelko-service.crt"));
    }

private:
    QProcess m_process;
    QTemporaryDir m_state; // the service's state folder: its key and certificate
    QByteArray m_output;
    int m_port = 0;
    int m_httpsPort = 0;
    bool m_isService = false;
};

#endif
