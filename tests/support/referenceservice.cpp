#include "referenceservice.h"

#include "zelkotesting.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <csignal>

ReferenceService::ReferenceService(QObject *parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_state.path());
    env.remove(QStringLiteral("STATE_DIRECTORY"));
    m_process.setProcessEnvironment(env);
}

ReferenceService::~ReferenceService()
{
    stop();
}

QString ReferenceService::binary()
{
    return QStringLiteral(ZELKO_SERVICE_BINARY);
}

bool ReferenceService::start(int port, int httpsPort, const QString &statusFile,
                             const QStringList &moreArguments)
{
    stop();
    QStringList args{QStringLiteral("--port"), QString::number(port), QStringLiteral("--https-port"),
                     QString::number(httpsPort), QStringLiteral("--exit-with-parent")};
    if (!statusFile.isEmpty())
        args << QStringLiteral("--status-file") << statusFile;
    args << moreArguments;
    m_output.clear();
    m_process.start(binary(), args);
    if (!m_process.waitForStarted(20000))
        return false;

    static const QRegularExpression listening(
        QStringLiteral("listening on http://[^:]+:(\\d+)/search and https://[^:]+:(\\d+)/feedback"));
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_output += m_process.readAll();
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(m_output));
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            m_httpsPort = match.captured(2).toInt();
            return true;
        }
    }
    m_output += m_process.readAll();
    qWarning("zelko-service did not start: %s", m_output.constData());
    stop();
    return false;
}

bool ReferenceService::startAsService()
{
    if (!start())
        return false;
    m_isService = true;
    ZelkoTesting::setServiceUrl(searchUrl());
    return true;
}

bool ReferenceService::stop()
{
    if (m_isService) {
        ZelkoTesting::setServiceUrl(QString());
        m_isService = false;
    }
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    if (m_process.waitForFinished(15000))
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.kill();
    m_process.waitForFinished(10000);
    return false;
}

void ReferenceService::pause(bool paused)
{
    if (m_process.state() == QProcess::Running)
        ::kill(pid_t(m_process.processId()), paused ? SIGSTOP : SIGCONT);
}

QString ReferenceService::searchUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/search").arg(m_port);
}

QString ReferenceService::feedbackUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1/feedback").arg(m_httpsPort);
}

QString ReferenceService::log()
{
    m_output += m_process.readAll();
    return QString::fromUtf8(m_output);
}
