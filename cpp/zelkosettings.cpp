#include "zelkosettings.h"
#include "zelkoqtroot.h"

#include <QCoreApplication>
#include <QSettings>

ZelkoSettings *ZelkoSettings::m_instance = nullptr;

ZelkoSettings::ZelkoSettings(QObject *parent)
    : QObject(parent)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Zelko"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("zelko.example"));
    QCoreApplication::setApplicationName(QStringLiteral("QtClient"));
    m_settings = new QSettings(this);
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
    return store->m_settings->value(key, QString(QLatin1String("")));
}

void ZelkoSettings::setValue(const QString &key, const QVariant &value)
{
    ZelkoSettings *store = getInstance();
    if (!normalizedKey(key).isEmpty())
        store->m_settings->setValue(key, value);
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
