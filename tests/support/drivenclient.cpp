#include "drivenclient.h"
#include "framewriter.h"

#include <QJsonDocument>
#include <QtTest>

DrivenClient::DrivenClient()
    : m_tree(QStringLiteral(ZELKO_TEST_CLIENT))
    , m_cue(true)
{
    m_valid = m_tree.isValid() && m_cue.isListening();
    const QDir qml(QStringLiteral(ZELKO_QML_DIR));
    for (const QString &file : qml.entryList(
             {QStringLiteral("*.qml"), QStringLiteral("*.js"), QStringLiteral("qmldir")}, QDir::Files))
        if (file != QLatin1String("main.qml"))
            m_valid =
                m_valid
                && QFile::copy(qml.filePath(file), m_tree.root() + QStringLiteral("/qml/Zelko/") + file);
    m_valid = m_valid && QFile::copy(QStringLiteral(ZELKO_DRIVER_QML), m_tree.mainQml());
    for (const char *file : {"Screens.js", "AfterFrames.qml"})
        m_valid = m_valid
                  && QFile::copy(QStringLiteral(ZELKO_TEST_SUPPORT_DIR "/") + file,
                                 m_tree.root() + QStringLiteral("/qml/Zelko/") + file);
    // A service that refuses every query (bad signature), for the step that shows a refusal.
    m_refusing.setCannedResponse(MiniHttpServer::response(FrameWriter::serviceError(1, 2)));
    m_valid = m_valid && m_refusing.isListening();
    // Where main looks for them.
    const QDir translations(QStringLiteral(ZELKO_TRANSLATIONS_DIR));
    const QString installed = m_tree.root() + QStringLiteral("/translations/");
    QDir().mkpath(installed);
    for (const QString &file : translations.entryList({QStringLiteral("*.qm")}, QDir::Files))
        m_valid = m_valid && QFile::copy(translations.filePath(file), installed + file);
    m_cue.setResponder([this](QTcpSocket *socket, const ReceivedRequest &request) {
        m_waiting = socket;
        m_reports.append(request.body);
    });
}

DrivenClient::~DrivenClient()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

void DrivenClient::start(const QString &serviceUrl, const QStringList &steps, const Adjust &adjust,
                         const QStringList &moreArguments)
{
    m_tree.start(
        m_process,
        [&](QProcessEnvironment &env) {
            env.insert(QStringLiteral("ZELKO_TEST_SERVICE_URL"), serviceUrl);
            if (adjust)
                adjust(env);
        },
        QStringList{m_cue.url(QStringLiteral("/cue")), steps.join(QLatin1Char(',')), m_refusing.url()}
            + moreArguments);
}

QJsonObject DrivenClient::next()
{
    (void)QTest::qWaitFor(
        [this] { return !m_reports.isEmpty() || m_process.state() == QProcess::NotRunning; }, 90000);
    if (m_reports.isEmpty())
        return QJsonObject();
    return QJsonDocument::fromJson(m_reports.takeFirst()).object();
}

void DrivenClient::proceed()
{
    if (m_waiting)
        m_waiting->write(MiniHttpServer::response("{}"));
    m_waiting.clear();
}

bool DrivenClient::finish()
{
    // The answer to the last step still has to go out: the event loop runs while waiting.
    (void)QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, 30000);
    log();
    return m_process.state() == QProcess::NotRunning && m_process.exitStatus() == QProcess::NormalExit
           && m_process.exitCode() == 0;
}

QString DrivenClient::log()
{
    m_log += m_process.readAllStandardError() + m_process.readAllStandardOutput();
    return QString::fromUtf8(m_log);
}
