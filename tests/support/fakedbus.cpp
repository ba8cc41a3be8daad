#include "fakedbus.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

const QString fakeDBusPython = QStringLiteral("/usr/bin/python3");
const QString fakeDBusMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

QString pythonValue(const QVariant &value)
{
    if (value.userType() == QMetaType::Int)
        return QStringLiteral("dbus.Int32(%1)").arg(value.toInt());
    // A JSON string reads the same in Python.
    const QJsonArray wrapped{QJsonValue::fromVariant(value)};
    const QByteArray json = QJsonDocument(wrapped).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

QDBusMessage busCall(const QString &service, const QString &path, const QString &interface,
                     const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    return QDBusConnection::systemBus().call(call, QDBus::Block, fakeDBusStartMs);
}

bool waitFor(const std::function<bool()> &condition)
{
    QDeadlineTimer deadline(fakeDBusStartMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool hasDBusMock()
{
    QProcess probe;
    probe.start(fakeDBusPython, {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
    return probe.waitForFinished(fakeDBusStartMs) && probe.exitStatus() == QProcess::NormalExit
           && probe.exitCode() == 0;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}
