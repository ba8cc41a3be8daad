#include "minihttpserver.h"
#include "zelkoimageprovider.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QTcpSocket>
#include <QtQuickTest>

// The QML suites see the "Zelko" module and the "res" provider exactly as the
// application installs them, plus loopback servers for their requests.
class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable() { zelkoRegisterQmlTypes(); }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImageProvider(QStringLiteral("res"),
                                 new ZelkoImageProvider(QQmlImageProviderBase::Image));

        auto *echo = new MiniHttpServer(false, 0, this);
        echo->setResponder([](QTcpSocket *socket, const ReceivedRequest &request) {
            socket->write(MiniHttpServer::response(request.body));
        });
        auto *stall = new MiniHttpServer(false, 0, this);
        stall->setResponder([](QTcpSocket *, const ReceivedRequest &) {});
        auto *tls = new MiniHttpServer(true, 0, this);
        tls->setCannedResponse(MiniHttpServer::response("{\"feedback\":\"thanks\"}"));

        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("echoUrl"), echo->url());
        context->setContextProperty(QStringLiteral("stallUrl"), stall->url());
        context->setContextProperty(QStringLiteral("tlsUrl"), tls->url());
    }

    void cleanupTestCase() { ZelkoQtRoot::destroy(); }
};

QUICK_TEST_MAIN_WITH_SETUP(zelko, Setup)
#include "qmltests.moc"
