#include "weston.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>

Weston::~Weston()
{
    stop();
}

QString Weston::binary()
{
    return QStandardPaths::findExecutable(QStringLiteral("weston"));
}

QString Weston::socketPath() const
{
    return m_runtime.filePath(QStringLiteral("wayland-0"));
}

bool Weston::start(QSize size, int scale, const QString &transform)
{
    stop();
    if (binary().isEmpty() || !m_runtime.isValid()) {
        m_error = QStringLiteral("no weston, or no runtime folder");
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    for (const char *name : {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "DISPLAY"})
        env.remove(QString::fromLatin1(name));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // --debug offers the screenshooter; setpriv ends weston with a test that dies.
    m_process.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), QStringLiteral("--"), binary(),
                     QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--use-pixman"),
                     QStringLiteral("--width=%1").arg(size.width()),
                     QStringLiteral("--height=%1").arg(size.height()),
                     QStringLiteral("--scale=%1").arg(scale), QStringLiteral("--transform=%1").arg(transform),
                     QStringLiteral("--socket=wayland-0"), QStringLiteral("--no-config"),
                     QStringLiteral("--idle-time=0"), QStringLiteral("--debug")});
    const QDeadlineTimer deadline(30000);
    while (!QFile::exists(socketPath())) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()
            || m_process.waitForFinished(50)) {
            m_error = QStringLiteral("weston did not start: ") + QString::fromLocal8Bit(m_process.readAll());
            stop();
            return false;
        }
    }
    return true;
}

void Weston::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

void Weston::addClientEnvironment(QProcessEnvironment &env) const
{
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    // A path, not a name: it holds in a mount or network namespace of the client's own.
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), socketPath());
    env.remove(QStringLiteral("DISPLAY"));
#if defined(__SANITIZE_ADDRESS__)
    // Mesa's GL driver leaks and is unloaded before LeakSanitizer looks, so that no
    // suppression can name it (scripts/sanitize.sh does the same for X): the platform loads
    // no GL (it says so, once), and QtQuick draws with its software renderer.
    env.insert(QStringLiteral("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"), QStringLiteral("none"));
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
#else
    // As on a phone: OpenGL where there is one (Mesa's llvmpipe here).
    env.remove(QStringLiteral("QT_QUICK_BACKEND"));
#endif
    // The headless output has no seat, yet weston offers text input; Qt 6.4 then reaches for
    // the missing seat as the first text field is made, and crashes. A phone's compositor
    // always has one; here the clients take no input method.
    env.insert(QStringLiteral("QT_IM_MODULE"), QStringLiteral("none"));
}

QImage Weston::screenshot()
{
    // The screenshooter writes a file named after the time into its working folder.
    QTemporaryDir out;
    QProcess shooter;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    addClientEnvironment(env);
    shooter.setProcessEnvironment(env);
    shooter.setWorkingDirectory(out.path());
    shooter.setProcessChannelMode(QProcess::MergedChannels);
    shooter.start(QStringLiteral("weston-screenshooter"), QStringList());
    if (!shooter.waitForFinished(30000) || shooter.exitCode() != 0) {
        m_error = QStringLiteral("weston-screenshooter failed: ") + QString::fromLocal8Bit(shooter.readAll());
        return QImage();
    }
    const QStringList shots = QDir(out.path()).entryList({QStringLiteral("*.png")}, QDir::Files);
    if (shots.size() != 1) {
        m_error = QStringLiteral("weston-screenshooter wrote no picture");
        return QImage();
    }
    return QImage(QDir(out.path()).filePath(shots.first())).convertToFormat(QImage::Format_RGB32);
}
