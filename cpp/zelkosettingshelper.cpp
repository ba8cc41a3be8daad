#include "zelkosettingshelper.h"
#include "zelkosettings.h"
#include "zelkostaticdata.h"

#include <QPointer>

namespace {

// Every element hears of every change: they share one store.
QList<ZelkoSettingsHelper *> &liveElements()
{
    static QList<ZelkoSettingsHelper *> elements;
    return elements;
}

} // namespace

ZelkoSettingsHelper::ZelkoSettingsHelper()
    : QObject(nullptr)
{
    liveElements().append(this);
}

ZelkoSettingsHelper::~ZelkoSettingsHelper()
{
    liveElements().removeOne(this);
}

void ZelkoSettingsHelper::changed(const QStringList &keys)
{
    // A handler may destroy elements, this one included.
    QList<QPointer<ZelkoSettingsHelper>> elements;
    for (ZelkoSettingsHelper *element : qAsConst(liveElements()))
        elements.append(element);
    for (const QString &key : keys)
        for (const QPointer<ZelkoSettingsHelper> &element : qAsConst(elements))
            if (element)
                emit element->valueChanged(key);
}

QVariant ZelkoSettingsHelper::value(QString key)
{
    return ZelkoSettings::value(key);
}

void ZelkoSettingsHelper::setValue(QString key, QVariant value)
{
    const QString name = ZelkoSettings::normalizedKey(key);
    // Writing back what is stored is no change: a handler that does so ends there.
    const bool same = !name.isEmpty() && ZelkoSettings::contains(name)
                      && ZelkoSettings::value(name) == ZelkoSettings::plainValue(value);
    ZelkoSettings::setValue(key, value);
    if (!name.isEmpty() && !same)
        changed({name});
}

bool ZelkoSettingsHelper::contains(QString key)
{
    return ZelkoSettings::contains(key);
}

void ZelkoSettingsHelper::remove(QString key)
{
    const QStringList gone = ZelkoSettings::keysUnder(key);
    ZelkoSettings::remove(key);
    changed(gone);
}

QString ZelkoSettingsHelper::uid()
{
    return ZelkoStaticData::uid();
}

QString ZelkoSettingsHelper::vid()
{
    return ZelkoStaticData::vid();
}

QString ZelkoSettingsHelper::cid()
{
    return ZelkoStaticData::cid();
}

QString ZelkoSettingsHelper::pid()
{
    return ZelkoStaticData::pid();
}

QString ZelkoSettingsHelper::info()
{
    return ZelkoStaticData::info();
}
