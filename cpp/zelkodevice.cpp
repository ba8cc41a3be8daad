#include "zelkodevice.h"
#include "zelkotesting.h"

#include <QDeviceInfo>

namespace {

// A QDeviceInfo per question: the platform may change its answers at any time.
class PlatformDevice : public ZelkoDeviceSource
{
public:
    QString imei() const override { return QDeviceInfo().imei(0); }
    QString productName() const override { return QDeviceInfo().productName(); }
    QString model() const override { return QDeviceInfo().model(); }
    QString osVersion() const override { return QDeviceInfo().version(QDeviceInfo::Os); }
    QString firmwareVersion() const override { return QDeviceInfo().version(QDeviceInfo::Firmware); }
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
