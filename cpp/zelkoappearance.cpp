#include "zelkoappearance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
const QString readOne = QStringLiteral("ReadOne");

// The call does not wait, so this bound holds nobody up: it only ends the wait for a portal
// that takes the call and never answers. The portal may be started by the call itself, which
// a loaded handset can take seconds over, and a late answer still counts.
constexpr int portalCallTimeoutMs = 10000;

} // namespace

ZelkoAppearance::ZelkoAppearance(QObject *parent)
    : QObject(parent)
{
    // Connecting and subscribing ask only the bus daemon, never the portal.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Subscribed before asking: the portal's answer and its signals come in the order it sent
    // them, so a change made while the answer is on its way is not lost.
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
    read(readOne);
}

void ZelkoAppearance::read(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, method);
    call << appearanceGroup << colorSchemeKey;
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, portalCallTimeoutMs), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this, method](QDBusPendingCallWatcher *answer) {
            const QDBusMessage reply = answer->reply();
            // A portal from before ReadOne knows only Read. Asked before the watcher goes, so
            // that one of them waits as long as the answer is still to come.
            if (method == readOne && reply.type() == QDBusMessage::ErrorMessage
                && reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
                read(QStringLiteral("Read"));
            else if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String("v"))
                setColorScheme(reply.arguments().at(0));
            answer->deleteLater();
        });
}

void ZelkoAppearance::settingChanged(const QString &group, const QString &key, const QDBusVariant &value)
{
    if (group == appearanceGroup && key == colorSchemeKey)
        setColorScheme(value.variant());
}

void ZelkoAppearance::setColorScheme(QVariant value)
{
    // Read answers in one variant more than ReadOne and SettingChanged.
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    // Values the portal may add later count as no preference, as it asks of its readers.
    const uint scheme = value.userType() == QMetaType::UInt ? value.toUInt() : uint(NoPreference);
    const int colorScheme = scheme <= uint(PreferLight) ? int(scheme) : NoPreference;
    if (colorScheme == m_colorScheme)
        return;
    const bool wasDark = dark();
    m_colorScheme = colorScheme;
    emit colorSchemeChanged();
    if (dark() != wasDark)
        emit darkChanged();
}

// Compiled here, where QDBusVariant is complete: the header keeps QtDBus to itself.
#include "moc_zelkoappearance.cpp"
