#include "zelkoregistration.h"

#include <QQmlEngine>
#include <QtQuickTest>

// The QML suites see the "Zelko" module exactly as the application registers it.
class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable() { zelkoRegisterQmlTypes(); }
    void qmlEngineAvailable(QQmlEngine *engine) { Q_UNUSED(engine); }
};

QUICK_TEST_MAIN_WITH_SETUP(zelko, Setup)
#include "qmltests.moc"
