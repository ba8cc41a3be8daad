#include "zelkodevice.h"
#include "zelkotesting.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSysInfo>
#include <QVariantMap>

#include <algorithm>
#include <utility>
#include <vector>

// Where each value comes from, first answer that is not empty wins; none gives "".
//
//   imei             ModemManager: EquipmentIdentifier of the first modem, by object path with
//                    numbered segments in number order (Modem/2 before Modem/10);
//                    then oFono: Serial of the first modem in GetModems' own order.
//                    A modem whose value is not a string, or not printable ASCII without
//                    quote or backslash (it goes unescaped into info()), is passed over.
//   productName      os-release PRETTY_NAME; then NAME and VERSION joined by a space.
//   model            device tree model (phones and other ARM boards); then DMI product_name (PCs).
//   osVersion        os-release VERSION_ID.
//   firmwareVersion  the kernel release (uname), which is what a Linux handset updates as its firmware.
//
// os-release is /etc/os-release, or /usr/lib/os-release where that is missing (os-release(5)),
// empty or unreadable.
// QSysInfo's product names are not used: they read the same files but fall back to made-up
// text ("Linux <kernel>") where a missing file should give "".

namespace {

// A local service answers in milliseconds, ModemManager from what it already knows; half a
// second leaves a loaded handset ample margin while a stalled one holds the caller, often the
// GUI thread, at most a second over both services.
constexpr int busCallTimeoutMs = 500;

// Long enough for any identifier a modem reports (IMEI 15, MEID 14, ESN 8).
constexpr int maxIdentifierLength = 64;

// Every file read here is a few lines; a larger one is not what we look for.
constexpr qint64 maxFileSize = 64 * 1024;

QString &rootOverride()
{
    static QString root;
    return root;
}

QString systemPath(const QString &path)
{
    return rootOverride() + path;
}

// Regular files only: a FIFO or device in place of a file would block the read.
QByteArray readSmallFile(const QString &path)
{
    const QString full = systemPath(path);
    if (!QFileInfo(full).isFile())
        return {};
    QFile file(full);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // sysfs and procfs report a size of 0, so read until the end rather than by size.
    QByteArray data = file.read(maxFileSize + 1);
    return data.size() > maxFileSize ? QByteArray() : data;
}

// Device tree strings end in NUL; sysfs ones in a newline.
QString fileValue(const QString &path)
{
    QByteArray data = readSmallFile(path);
    const int nul = data.indexOf('\0');
    if (nul >= 0)
        data.truncate(nul);
    return QString::fromUtf8(data).trimmed();
}

bool isShellName(const QString &key)
{
    if (key.isEmpty() || key.at(0).isDigit())
        return false;
    return std::all_of(key.begin(), key.end(), [](QChar c) {
        return (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
               || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
               || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_');
    });
}

// An assignment's value as the shell reads it: os-release(5) allows its quoting and escapes.
// An unterminated quote makes the line unreadable (ok false).
QString shellValue(const QString &raw, bool *ok)
{
    QString value;
    QChar quote;
    for (int i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (quote.isNull()) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\''))
                quote = c;
            else if (c == QLatin1Char('\\') && i + 1 < raw.size())
                value += raw.at(++i);
            else if (c.isSpace())
                break;
            else
                value += c;
        } else if (c == quote) {
            quote = QChar();
        } else if (quote == QLatin1Char('"') && c == QLatin1Char('\\') && i + 1 < raw.size()
                   && QStringLiteral("$\"\\`").contains(raw.at(i + 1))) {
            value += raw.at(++i);
        } else {
            value += c;
        }
    }
    *ok = quote.isNull();
    return value;
}

QHash<QString, QString> osRelease()
{
    QByteArray data = readSmallFile(QStringLiteral("/etc/os-release"));
    if (data.isEmpty())
        data = readSmallFile(QStringLiteral("/usr/lib/os-release"));
    QHash<QString, QString> fields;
    const QStringList lines = QString::fromUtf8(data).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        const int equals = trimmed.indexOf(QLatin1Char('='));
        if (trimmed.startsWith(QLatin1Char('#')) || equals <= 0)
            continue;
        const QString key = trimmed.left(equals);
        bool ok = false;
        const QString value = shellValue(trimmed.mid(equals + 1), &ok);
        if (isShellName(key) && ok)
            fields.insert(key, value);
    }
    return fields;
}

QString usableIdentifier(const QVariant &value)
{
    if (value.userType() != QMetaType::QString)
        return {};
    const QString text = value.toString().trimmed();
    if (text.size() > maxIdentifierLength)
        return {};
    const bool printable = std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() > 0x20 && c.unicode() < 0x7f && c != QLatin1Char('"') && c != QLatin1Char('\\');
    });
    return printable ? text : QString();
}

bool isNumber(const QString &segment)
{
    return !segment.isEmpty()
           && std::all_of(segment.begin(), segment.end(), [](QChar c) { return c.isDigit(); });
}

// Numbered segments compare as numbers, whatever their length; others as text.
bool pathLess(const QString &a, const QString &b)
{
    const QStringList left = a.split(QLatin1Char('/'));
    const QStringList right = b.split(QLatin1Char('/'));
    for (int i = 0; i < left.size() && i < right.size(); ++i) {
        QString x = left.at(i);
        QString y = right.at(i);
        if (x == y)
            continue;
        if (isNumber(x) && isNumber(y)) {
            while (x.size() > 1 && x.startsWith(QLatin1Char('0')))
                x.remove(0, 1);
            while (y.size() > 1 && y.startsWith(QLatin1Char('0')))
                y.remove(0, 1);
            if (x.size() != y.size())
                return x.size() < y.size();
        }
        if (x != y)
            return x < y;
    }
    return left.size() < right.size();
}

// An answer of the expected signature, or nothing. The service is never started for us:
// activating it could take far longer than the caller may wait.
QDBusMessage callService(const QDBusConnection &bus, const QString &service, const QString &path,
                         const QString &interface, const QString &method, const char *signature)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setAutoStartService(false);
    QDBusMessage reply = bus.call(call, QDBus::Block, busCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String(signature)
        || reply.arguments().size() != 1
        || reply.arguments().at(0).userType() != qMetaTypeId<QDBusArgument>())
        return QDBusMessage();
    return reply;
}

QString modemManagerImei(const QDBusConnection &bus)
{
    const QDBusMessage reply = callService(bus, QStringLiteral("org.freedesktop.ModemManager1"),
                                           QStringLiteral("/org/freedesktop/ModemManager1"),
                                           QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                           QStringLiteral("GetManagedObjects"), "a{oa{sa{sv}}}");
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};

    std::vector<std::pair<QString, QVariant>> modems;
    const QDBusArgument objects = reply.arguments().at(0).value<QDBusArgument>();
    objects.beginMap();
    while (!objects.atEnd()) {
        QDBusObjectPath path;
        QMap<QString, QVariantMap> interfaces;
        objects.beginMapEntry();
        objects >> path >> interfaces;
        objects.endMapEntry();
        const auto modem = interfaces.constFind(QStringLiteral("org.freedesktop.ModemManager1.Modem"));
        if (modem != interfaces.constEnd())
            modems.emplace_back(path.path(), modem->value(QStringLiteral("EquipmentIdentifier")));
    }
    objects.endMap();

    std::sort(modems.begin(), modems.end(),
              [](const auto &a, const auto &b) { return pathLess(a.first, b.first); });
    for (const auto &modem : modems) {
        const QString imei = usableIdentifier(modem.second);
        if (!imei.isEmpty())
            return imei;
    }
    return {};
}

QString ofonoImei(const QDBusConnection &bus)
{
    const QDBusMessage reply =
        callService(bus, QStringLiteral("org.ofono"), QStringLiteral("/"),
                    QStringLiteral("org.ofono.Manager"), QStringLiteral("GetModems"), "a(oa{sv})");
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};

    QString imei;
    const QDBusArgument modems = reply.arguments().at(0).value<QDBusArgument>();
    modems.beginArray();
    while (!modems.atEnd()) {
        QDBusObjectPath path;
        QVariantMap properties;
        modems.beginStructure();
        modems >> path >> properties;
        modems.endStructure();
        if (imei.isEmpty())
            imei = usableIdentifier(properties.value(QStringLiteral("Serial")));
    }
    modems.endArray();
    return imei;
}

// Every question reads the platform anew: modems come and go, and so may the files.
class PlatformDevice : public ZelkoDeviceSource
{
public:
    // The calls are bounded, the connection is not: a bus daemon that accepts it and never
    // answers holds libdbus's handshake for good. A thread of our own could not bound that
    // either, as QtDBus then waits for its stuck connection at exit.
    QString imei() const override
    {
        const QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return {};
        const QString imei = modemManagerImei(bus);
        return imei.isEmpty() ? ofonoImei(bus) : imei;
    }

    QString productName() const override
    {
        const QHash<QString, QString> release = osRelease();
        const QString pretty = release.value(QStringLiteral("PRETTY_NAME"));
        if (!pretty.isEmpty())
            return pretty;
        QStringList parts{release.value(QStringLiteral("NAME")), release.value(QStringLiteral("VERSION"))};
        parts.removeAll(QString());
        return parts.join(QLatin1Char(' '));
    }

    QString model() const override
    {
        for (const char *path : {"/proc/device-tree/model", "/sys/firmware/devicetree/base/model",
                                 "/sys/class/dmi/id/product_name"}) {
            const QString value = fileValue(QString::fromLatin1(path));
            if (!value.isEmpty())
                return value;
        }
        return {};
    }

    QString osVersion() const override { return osRelease().value(QStringLiteral("VERSION_ID")); }

    QString firmwareVersion() const override { return QSysInfo::kernelVersion(); }
};

const ZelkoDeviceSource *s_override = nullptr;

} // namespace

const ZelkoDeviceSource &ZelkoDeviceSource::current()
{
    static const PlatformDevice platform;
    return s_override ? *s_override : platform;
}

void ZelkoTesting::setDeviceSource(const ZelkoDeviceSource *source)
{
    s_override = source;
}

void ZelkoTesting::setDeviceRoot(const QString &root)
{
    rootOverride() = root;
}
