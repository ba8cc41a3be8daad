// The loopback service for the round-trip benchmark: answers every POST on a
// kept-alive connection with the same 16 KiB frame. A process of its own, so
// that it takes the other core instead of the client's event loop.

#include "benchframes.h"
#include "cannedrequests.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cstdio>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

class Server : public bench::CannedHttpServer
{
public:
    explicit Server(const QByteArray &body)
    {
        m_response = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: "
                     + QByteArray::number(body.size()) + "\r\nConnection: keep-alive\r\n\r\n" + body;
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        // The benchmark ends this process with its connections open: reset them
        // then rather than leave the service port in TIME_WAIT, where it would
        // keep a service that does not reuse addresses from listening for a minute.
        const linger reset{1, 0};
        setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        bench::CannedHttpServer::incomingConnection(descriptor);
    }

    QByteArray answerTo(const QByteArray &) override { return m_response; }

private:
    QByteArray m_response;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"port", "Port to listen on (0: any free one).", "port", "0"});
    parser.addOption({"frame", "Approximate size of the answer frame in bytes.", "bytes", "16384"});
    parser.process(app);

    const int frameBytes = parser.value("frame").toInt();
    // Four thumbnails and the JSON text that lists them, as a plain frame.
    const auto thumbs = BenchFrames::pngResources(4, qMax(64, frameBytes / 6));
    int resourceBytes = 0;
    for (const auto &r : thumbs)
        resourceBytes += r.data.size() + r.id.size() + 6;
    const QByteArray json = BenchFrames::resultJson(thumbs, qMax(256, frameBytes - resourceBytes - 32));
    const QByteArray frame = BenchFrames::build(thumbs, json, false).frame;

    Server server(frame);
    // A port named on the command line may still be held: a server that did not
    // ask for address reuse may have left connections on it in TIME_WAIT.
    QElapsedTimer waited;
    waited.start();
    while (!server.listen(QHostAddress::LocalHost, quint16(parser.value("port").toUInt()))
           && waited.elapsed() < 65000)
        QThread::msleep(200);
    if (!server.isListening()) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("listening %lld %d\n", static_cast<long long>(frame.size()), int(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
