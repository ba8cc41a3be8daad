#include "zelkoimageprovider.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"
#include "zelkosettings.h"

#include <QCoreApplication>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>

// "import Zelko 1.0" for any QML program: the elements, and the "res" images on the
// engine that imports the module. In the zelko program, which registers the
// types itself and installs its provider before loading any QML, it adds nothing.
class ZelkoPlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlExtensionInterface_iid)

public:
    void registerTypes(const char *uri) override
    {
        Q_ASSERT(QLatin1String(uri) == QLatin1String("Zelko"));
        m_registered = zelkoRegisterQmlTypes();
        if (!m_registered)
            return;
        ZelkoSettings::setHosted();
        // The singletons of this copy of the library go when the program does, so
        // that settings are written back and no reply outlives its manager: once
        // when the event loop ends, and again for whatever QML made while its
        // engine was torn down.
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, &ZelkoQtRoot::destroy);
        qAddPostRoutine(&ZelkoQtRoot::destroy);
    }

    void initializeEngine(QQmlEngine *engine, const char *uri) override
    {
        Q_UNUSED(uri)
        if (m_registered && !engine->imageProvider(QStringLiteral("res")))
            engine->addImageProvider(QStringLiteral("res"),
                                     new ZelkoImageProvider(QQmlImageProviderBase::Image));
    }

private:
    bool m_registered = false;
};

#include "zelkoplugin.moc"
