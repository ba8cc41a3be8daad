#ifndef INSTALLTREE_H
#define INSTALLTREE_H

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <functional>

// A throw-away install tree (<root>/bin/zelko, <root>/qml/Zelko/main.qml) and a
// runner for the real binary in it, with its own settings folder.
class InstallTree
{
public:
    explicit InstallTree(const QString &program = QStringLiteral(ZELKO_BINARY))
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("bin"));
        QDir(m_dir.path()).mkpath(QStringLiteral("qml/Zelko"));
        QDir(m_dir.path()).mkpath(QStringLiteral("config"));
        QFile::copy(program, binary());
    }

    bool isValid() const { return m_dir.isValid() && QFile::exists(binary()); }
    QString root() const { return m_dir.path(); }
    QString binary() const { return m_dir.filePath(QStringLiteral("bin/zelko")); }
    QString mainQml() const { return m_dir.filePath(QStringLiteral("qml/Zelko/main.qml")); }
    QString configHome() const { return m_dir.filePath(QStringLiteral("config")); }

    bool writeMainQml(const QByteArray &text) const
    {
        QFile f(mainQml());
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    }

    // Started from an unrelated working directory, so only the install-dir lookup can find the file.
    void start(QProcess &process,
               const std::function<void(QProcessEnvironment &)> &adjust =
                   std::function<void(QProcessEnvironment &)>(),
               const QStringList &arguments = QStringList()) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("QT_QUICK_BACKEND"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
        env.insert(QStringLiteral("HOME"), root());
        if (adjust)
            adjust(env);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QDir::tempPath());
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(binary(), arguments);
    }

    // Runs the binary until it quits by itself; true when it ended with exit code 0.
    // *log gets its standard error, or why it did not end.
    bool runToEnd(QByteArray *log, const std::function<void(QProcessEnvironment &)> &adjust =
                                       std::function<void(QProcessEnvironment &)>()) const
    {
        QProcess process;
        start(process, adjust);
        if (!process.waitForFinished(60000)) {
            *log = "zelko did not quit: " + process.readAllStandardError();
            return false;
        }
        *log = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

private:
    QTemporaryDir m_dir;
};

#endif
