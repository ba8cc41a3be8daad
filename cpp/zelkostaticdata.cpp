#include "zelkostaticdata.h"

#include <QDebug>
#include <QDeviceInfo>

#ifndef ZELKO_SERVICE_URL
#error "ZELKO_SERVICE_URL must be defined by the build"
#endif

ZelkoStaticData::ZelkoStaticData(QObject *parent)
    : QObject(parent)
{
}

QString ZelkoStaticData::pid()
{
    return QStringLiteral("10010");
}

QString ZelkoStaticData::cid()
{
    return QStringLiteral("C1000");
}

QString ZelkoStaticData::vid()
{
    return QStringLiteral("21001002");
}

QString ZelkoStaticData::uid()
{
    QDeviceInfo device;
    return device.imei(0);
}

QString ZelkoStaticData::info()
{
    qDebug() << "**********MOBILITY_SYSTEMINFO************";
    QDeviceInfo device;
    return infoText(device.imei(0), device.productName(), device.model(), device.version(QDeviceInfo::Os),
                    device.version(QDeviceInfo::Firmware));
}

QString ZelkoStaticData::infoText(const QString &imei, const QString &productName, const QString &model,
                                  const QString &osVersion, const QString &firmwareVersion)
{
    // Keys stay unquoted and values unescaped: the client parses this exact form.
    return QLatin1String("{imei:\"") + imei + QLatin1String("\",productName:\"") + productName
           + QLatin1String("\",model:\"") + model + QLatin1String("\",osVersion:\"") + osVersion
           + QLatin1String("\",firmwareVersion:\"") + firmwareVersion + QLatin1String("\"}");
}

QString ZelkoStaticData::serviceUrl()
{
    return QStringLiteral(ZELKO_SERVICE_URL);
}

QString ZelkoStaticData::serviceHost()
{
    return QStringLiteral("res.zelko.example");
}
