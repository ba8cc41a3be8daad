#include "qmlapplicationviewer.h"
#include "zelkoimageprovider.h"
#include "zelkologging.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"

#include <QGuiApplication>
#include <QQmlEngine>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    zelkoEnableDebugLines();

    zelkoRegisterQmlTypes();

    QmlApplicationViewer::chooseSceneGraph();

    int res;
    {
        QmlApplicationViewer viewer;
        viewer.engine()->addImageProvider(QStringLiteral("res"),
                                          new ZelkoImageProvider(QQmlImageProviderBase::Image));
        viewer.setOrientation(QmlApplicationViewer::ScreenOrientationAuto);
        viewer.setMainQmlFile(QStringLiteral("qml/Zelko/main.qml"));
        viewer.showExpanded();

        res = app.exec();

        ZelkoQtRoot::destroy();
    }
    // Tearing the viewer down runs QML once more (Component.onDestruction), which can make
    // the singletons anew: their settings must still be written and nothing may outlive main.
    ZelkoQtRoot::destroy();
    return res;
}
