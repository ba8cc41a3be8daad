#ifndef DRIVENCLIENT_H
#define DRIVENCLIENT_H

#include "installtree.h"
#include "minihttpserver.h"

#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QTcpSocket>

#include <functional>

// The test client (the shipped program plus the tests' hooks) in an install tree of its
// own, with the real screens and translations, run through the steps of support/Driver.qml
// against the service the test names. Each step's report (Driver.qml says what it holds)
// arrives here while the client waits; proceed() lets it go on.
class DrivenClient
{
public:
    using Adjust = std::function<void(QProcessEnvironment &)>;

    DrivenClient();
    ~DrivenClient();

    bool isValid() const { return m_valid; }
    // steps as Driver.qml names them; adjust sets the platform, the language, ...
    void start(const QString &serviceUrl, const QStringList &steps, const Adjust &adjust = Adjust(),
               const QStringList &moreArguments = QStringList());
    // The next step's report; empty when the client ended or did not report in time.
    QJsonObject next();
    void proceed();
    // Lets the client end by itself; true when it did so with exit code 0.
    bool finish();
    // What it wrote so far.
    QString log();
    QString root() const { return m_tree.root(); }
    qint64 processId() const { return m_process.processId(); }

private:
    InstallTree m_tree;
    MiniHttpServer m_cue;
    MiniHttpServer m_refusing;
    QPointer<QTcpSocket> m_waiting;
    QList<QByteArray> m_reports;
    QProcess m_process;
    QByteArray m_log;
    bool m_valid = false;
};

#endif
