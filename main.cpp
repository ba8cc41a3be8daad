#include "qmlapplicationviewer.h"
#include "zelkoimageprovider.h"
#include "zelkologging.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"

#include <QAccessible>
#include <QAccessibleApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QQmlEngine>
#include <QTranslator>

namespace {

// The program as a screen reader names it. Qt would name it after the application name,
// which the settings store sets to "QtClient" so that its file keeps its place.
class NamedApplication : public QAccessibleApplication
{
public:
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? QStringLiteral("Zelko") : QAccessibleApplication::text(t);
    }
};

QAccessibleInterface *namedApplication(const QString &, QObject *object)
{
    return object == qApp ? new NamedApplication : nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    zelkoEnableDebugLines();
    QAccessible::installFactory(namedApplication);
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
