#include "qmlapplicationviewer.h"
#include "zelkoimageprovider.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>

// QtQuick aborts when it cannot create an OpenGL context; the client must still
// run on a machine without a GPU, so probe once before any window exists.
static bool openGlUsable()
{
    QOpenGLContext context;
    if (!context.create())
        return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return false;
    context.doneCurrent();
    return true;
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);

    zelkoRegisterQmlTypes();

    if (QQuickWindow::sceneGraphBackend().isEmpty() && !openGlUsable())
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
#else
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
#endif

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
