#include "treewalk.h"
#include "zelkotesting.h"

#include <QCoreApplication>
#include <QtGlobal>

// Linked only into the test build of the client: the end-to-end suite starts its
// own service on a free port and names it here, since the shipped program reads
// no environment and no option of its own.
static void pointAtTestService()
{
    const QByteArray url = qgetenv("ZELKO_TEST_SERVICE_URL");
    if (!url.isEmpty())
        ZelkoTesting::setServiceUrl(QString::fromUtf8(url));
}
Q_CONSTRUCTOR_FUNCTION(pointAtTestService)

// The walk of the item tree for support/Driver.qml, which the phone suites run as the
// client's main file.
static void offerTreeWalk()
{
    TreeWalk::registerForQml();
}
Q_COREAPP_STARTUP_FUNCTION(offerTreeWalk)
