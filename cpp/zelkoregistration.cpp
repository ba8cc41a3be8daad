#include "zelkoregistration.h"
#include "zelkoservicehelper.h"
#include "zelkosettingshelper.h"

#include <QtQml>

void zelkoRegisterQmlTypes()
{
    qmlRegisterType<ZelkoServiceHelper>("Zelko", 1, 0, "Request");
    qmlRegisterType<ZelkoSettingsHelper>("Zelko", 1, 0, "Settings");
}
