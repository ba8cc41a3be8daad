#include "zelkosettings.h"
#include "zelkoqtroot.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJSValue>
#include <QJSValueIterator>
#include <QSettings>

ZelkoSettings *ZelkoSettings::m_instance = nullptr;
bool ZelkoSettings::m_hosted = false;

namespace {

// What Qt calls a program that set no name of its own: its file's name.
bool programNamedItself()
{
    const QString unnamed = QFileInfo(QCoreApplication::arguments().value(0)).fileName();
    return !QCoreApplication::organizationName().isEmpty()
           || !QCoreApplication::organizationDomain().isEmpty()
           || QCoreApplication::applicationName() != unnamed;
}

} // namespace

ZelkoSettings::ZelkoSettings(QObject *parent)
    : QObject(parent)
{
    // The names are the program's: the client names itself here, a host program that named
    // itself keeps its names and its own file, and one that did not gets a file of its own.
    if (programNamedItself()) {
        m_settings = new QSettings(this);
    } else if (m_hosted) {
        m_settings = new QSettings(QStringLiteral("Zelko"), QCoreApplication::applicationName(), this);
    } else {
        QCoreApplication::setOrganizationName(QStringLiteral("Zelko"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("zelko.example"));
        QCoreApplication::setApplicationName(QStringLiteral("QtClient"));
        m_settings = new QSettings(this);
    }
}

void ZelkoSettings::setHosted()
{
    m_hosted = true;
}

ZelkoSettings::~ZelkoSettings()
{
    // A store used again after the root went must be made anew, not reached through a dead pointer.
    if (m_instance == this)
        m_instance = nullptr;
}

ZelkoSettings *ZelkoSettings::getInstance()
{
    if (!m_instance)
        m_instance = new ZelkoSettings(ZelkoQtRoot::getInstance());
    return m_instance;
}

QString ZelkoSettings::normalizedKey(const QString &key)
{
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

QStringList ZelkoSettings::keysUnder(const QString &key)
{
    const QString group = normalizedKey(key);
    const QStringList all = getInstance()->m_settings->allKeys();
    if (group.isEmpty())
        return all;
    QStringList under;
    for (const QString &stored : all)
        if (stored == group || stored.startsWith(group + QLatin1Char('/')))
            under.append(stored);
    return under;
}

// A key of slashes alone names no key, as the empty one: QSettings would store a value
// under the empty key for "/", and warn of "" while storing nothing.
QVariant ZelkoSettings::value(const QString &key)
{
    ZelkoSettings *store = getInstance();
    // An absent key reads as "" rather than undefined in QML.
    if (normalizedKey(key).isEmpty())
        return QString(QLatin1String(""));
    // An undefined value that an earlier version stored reads as absent, and the file's
    // lists of text (any list of two or more) as JavaScript arrays rather than sequences.
    const QVariant stored = store->m_settings->value(key);
    if (stored.userType() == QMetaType::QStringList)
        return stored.toList();
    return stored.isValid() ? stored : QString(QLatin1String(""));
}

namespace {

QVariant plain(const QJSValue &value)
{
    if (value.isArray()) {
        QVariantList list;
        const quint32 length = value.property(QStringLiteral("length")).toUInt();
        for (quint32 i = 0; i < length; ++i)
            list.append(plain(value.property(i)));
        return list;
    }
    if (value.isObject() && !value.isCallable() && !value.isDate() && !value.isRegExp() && !value.isQObject()
        && !value.isVariant()) {
        QVariantMap map;
        for (QJSValueIterator it(value); it.hasNext();) {
            it.next();
            map.insert(it.name(), plain(it.value()));
        }
        return map;
    }
    if (value.isCallable() || value.isQObject())
        return QVariant();
    const QVariant converted = value.toVariant();
    return converted.userType() == qMetaTypeId<QJSValue>() ? QVariant() : converted;
}

} // namespace

// Qt 6 cannot write a QJSValue to the file, and Qt 5 writes it in a form only its own
// engine reads: what QML gives is stored as the plain values it holds. undefined becomes
// what value() gives for nothing, so the file holds no @Invalid().
QVariant ZelkoSettings::plainValue(const QVariant &value)
{
    const int type = value.userType();
    if (!value.isValid())
        return QString(QLatin1String(""));
    if (type == qMetaTypeId<QJSValue>())
        return plainValue(plain(value.value<QJSValue>()));
    if (type == QMetaType::QVariantList) {
        QVariantList list = value.toList();
        for (QVariant &item : list)
            item = plainValue(item);
        return list;
    }
    if (type == QMetaType::QVariantMap) {
        QVariantMap map = value.toMap();
        for (QVariant &item : map)
            item = plainValue(item);
        return map;
    }
    return value;
}

void ZelkoSettings::setValue(const QString &key, const QVariant &value)
{
    ZelkoSettings *store = getInstance();
    if (!normalizedKey(key).isEmpty())
        store->m_settings->setValue(key, plainValue(value));
}

bool ZelkoSettings::contains(const QString &key)
{
    ZelkoSettings *store = getInstance();
    return !normalizedKey(key).isEmpty() && store->m_settings->contains(key);
}

void ZelkoSettings::remove(const QString &key)
{
    getInstance()->m_settings->remove(key);
}
