#include "zelkoregistration.h"
#include "zelkoappearance.h"
#include "zelkoservicehelper.h"
#include "zelkosettingshelper.h"

#include <QtQml>

bool zelkoRegisterQmlTypes()
{
    // A program that registered them and then imports the installed module loads the
    // plugin too, with its own copy of this library: the first registration stands.
    if (qmlTypeId("Zelko", 1, 0, "Request") >= 0)
        return false;
    qmlRegisterType<ZelkoServiceHelper>("Zelko", 1, 0, "Request");
    qmlRegisterType<ZelkoSettingsHelper>("Zelko", 1, 0, "Settings");
    // One per engine, which owns it.
    qmlRegisterSingletonType<ZelkoAppearance>(
        "Zelko", 1, 0, "Appearance",
        [](QQmlEngine *, QJSEngine *) -> QObject * { return new ZelkoAppearance; });
    return true;
}
