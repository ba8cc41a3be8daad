#include "framewriter.h"
#include "minihttpserver.h"
#include "referenceservice.h"
#include "testimages.h"
#include "zelkoimageprovider.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QTcpSocket>
#include <QtQuickTest>

// A stand-in service on a free port that the Request element posts to, started by
// the suites that need one: every query gets a compressed frame carrying PNG resources.
class CannedService : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    Q_INVOKABLE bool start()
    {
        if (m_server)
            return true;
        m_server = MiniHttpServer::asService(this);
        if (!m_server->isListening())
            return false;
        QList<FrameWriter::Resource> resources;
        resources.append({"png/red", 1, pngBytes(37, 23, Qt::red)});
        resources.append({"png/blue", 1, pngBytes(16, 16, Qt::blue)});
        resources.append({"junk", 1, "this is not an image"});
        const QByteArray frame = FrameWriter::answer(11, "{\"images\":3}", resources, 0);
        m_server->setCannedResponse(MiniHttpServer::response(frame));
        return true;
    }

private:
    MiniHttpServer *m_server = nullptr;
};

// The QML suites see the "Zelko" module and the "res" provider exactly as the
// application installs them, plus loopback servers for their requests.
class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable() { zelkoRegisterQmlTypes(); }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImageProvider(QStringLiteral("res"), new ZelkoImageProvider(QQmlImageProviderBase::Image));

        auto *echo = new MiniHttpServer(false, 0, this);
        echo->setResponder([](QTcpSocket *socket, const ReceivedRequest &request) {
            socket->write(MiniHttpServer::response(request.body));
        });
        auto *stall = new MiniHttpServer(false, 0, this);
        stall->setResponder([](QTcpSocket *, const ReceivedRequest &) {});
        auto *refusing = new MiniHttpServer(false, 0, this);
        refusing->setCannedResponse(MiniHttpServer::response(FrameWriter::serviceError(1, 2)));
        auto *tls = new MiniHttpServer(true, 0, this);
        tls->setCannedResponse(MiniHttpServer::response("{\"feedback\":\"thanks\"}"));

        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("echoUrl"), echo->url());
        context->setContextProperty(QStringLiteral("stallUrl"), stall->url());
        context->setContextProperty(QStringLiteral("tlsUrl"), tls->url());
        context->setContextProperty(QStringLiteral("refusingUrl"), refusing->url());
        context->setContextProperty(QStringLiteral("cannedService"), new CannedService(this));
        // The real search service, as the one the Request element posts to, for the suites that need it.
        context->setContextProperty(QStringLiteral("referenceService"), new ReferenceService(this));
    }

    void cleanupTestCase() { ZelkoQtRoot::destroy(); }
};

QUICK_TEST_MAIN_WITH_SETUP(zelko, Setup)
#include "qmltests.moc"
