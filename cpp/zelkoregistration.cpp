#include "zelkoregistration.h"
#include "zelkosettingshelper.h"

#include <QtQml>

void zelkoRegisterQmlTypes()
{
    // "Request" is registered first, ahead of "Settings", once it exists.
    qmlRegisterType<ZelkoSettingsHelper>("Zelko", 1, 0, "Settings");
}
