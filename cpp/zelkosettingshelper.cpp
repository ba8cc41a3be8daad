#include "zelkosettingshelper.h"
#include "zelkosettings.h"
#include "zelkostaticdata.h"

ZelkoSettingsHelper::ZelkoSettingsHelper()
    : QObject(nullptr)
{
}

QVariant ZelkoSettingsHelper::value(QString key)
{
    return ZelkoSettings::value(key);
}

void ZelkoSettingsHelper::setValue(QString key, QVariant value)
{
    ZelkoSettings::setValue(key, value);
}

bool ZelkoSettingsHelper::contains(QString key)
{
    return ZelkoSettings::contains(key);
}

void ZelkoSettingsHelper::remove(QString key)
{
    ZelkoSettings::remove(key);
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
