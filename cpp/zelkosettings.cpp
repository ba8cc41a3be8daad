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

QVariant ZelkoSettings::value(const QString &key)
{
    ZelkoSettings *store = getInstance();
    // An absent key reads as "" rather than undefined in QML. QSettings answers an
    // empty key with a warning and no value, default or not; it holds none there.
    if (key.isEmpty())
        return QString(QLatin1String(""));
    return store->m_settings->value(key, QString(QLatin1String("")));
}

void ZelkoSettings::setValue(const QString &key, const QVariant &value)
{
    getInstance()->m_settings->setValue(key, value);
}

bool ZelkoSettings::contains(const QString &key)
{
    return getInstance()->m_settings->contains(key);
}

void ZelkoSettings::remove(const QString &key)
{
    getInstance()->m_settings->remove(key);
}
