#include "zelkostaticdata.h"
#include "zelkodevice.h"
#include "zelkologging.h"
#include "zelkotesting.h"

#include <QDebug>

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
    return ZelkoDeviceSource::current().imei();
}

QString ZelkoStaticData::info()
{
    qCDebug(zelkoDevice) << "**********MOBILITY_SYSTEMINFO************";
    const ZelkoDeviceSource &device = ZelkoDeviceSource::current();
    return infoText(device.imei(), device.productName(), device.model(), device.osVersion(),
                    device.firmwareVersion());
}

QString ZelkoStaticData::infoText(const QString &imei, const QString &productName, const QString &model,
                                  const QString &osVersion, const QString &firmwareVersion)
{
    // Keys stay unquoted and values unescaped: the client parses this exact form.
    return QLatin1String("{imei:\"") + imei + QLatin1String("\",productName:\"") + productName
           + QLatin1String("\",model:\"") + model + QLatin1String("\",osVersion:\"") + osVersion
           + QLatin1String("\",firmwareVersion:\"") + firmwareVersion + QLatin1String("\"}");
}

namespace {
QString &serviceUrlOverride()
{
    static QString url;
    return url;
}
} // namespace

QString ZelkoStaticData::serviceUrl()
{
    const QString &url = serviceUrlOverride();
    return url.isEmpty() ? QStringLiteral(ZELKO_SERVICE_URL) : url;
}

void ZelkoTesting::setServiceUrl(const QString &url)
{
    serviceUrlOverride() = url;
}

QString ZelkoStaticData::serviceHost()
{
    return QStringLiteral("res.zelko.example");
}
