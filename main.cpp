#include "qmlapplicationviewer.h"
#include "zelkoimageprovider.h"
#include "zelkologging.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"

#include <QGuiApplication>
#include <QLocale>
#include <QQmlEngine>
#include <QTranslator>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    zelkoEnableDebugLines();
    // The window's Wayland app id, so that launchers match it to the desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.zelko"));

    // The screens in the system's language where a translation is installed beside the
    // program (<its folder>/../translations); without one they stay as written.
    QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("zelko"), QStringLiteral("_"),
                        QCoreApplication::applicationDirPath() + QStringLiteral("/../translations")))
        app.installTranslator(&translator);

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
