#ifndef ZELKODEVICE_H
#define ZELKODEVICE_H

#include <QString>

// Where the device's own values come from. Callers ask anew every time and pass
// the answers on unchanged, so a source keeps nothing between calls.
class ZelkoDeviceSource
{
public:
    virtual ~ZelkoDeviceSource() = default;

    virtual QString imei() const = 0;
    virtual QString productName() const = 0;
    virtual QString model() const = 0;
    virtual QString osVersion() const = 0;
    virtual QString firmwareVersion() const = 0;

    // The platform's source, unless a test has put another in its place.
    static const ZelkoDeviceSource &current();
};

#endif
