#ifndef ZELKOTESTING_H
#define ZELKOTESTING_H

#include <QString>

class ZelkoDeviceSource;

// Seams for the test suites: they let a test point the system at its own
// loopback servers and device values, whatever the build was configured with.
// Nothing in the shipped program calls them, and they read no environment.
namespace ZelkoTesting {

// ZelkoStaticData::serviceUrl() answers url from now on; an empty url restores
// the address the build compiled in.
void setServiceUrl(const QString &url);

// Device values come from source (not owned) from now on; nullptr restores the
// platform's own.
void setDeviceSource(const ZelkoDeviceSource *source);

// The platform's device source reads its files (os-release, device tree, DMI) under
// root, a folder laid out like /, from now on; an empty root restores / itself.
// Not for use while another thread asks the device.
void setDeviceRoot(const QString &root);

} // namespace ZelkoTesting

#endif
