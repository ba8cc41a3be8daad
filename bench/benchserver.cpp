// The loopback service for the round-trip benchmark: answers every POST on a
// kept-alive connection with the same 16 KiB frame. A process of its own, so
// that it takes the other core instead of the client's event loop.

#include "benchframes.h"

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

class Server : public QTcpServer
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
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // The benchmark ends this process with its connections open: reset them
        // then rather than leave the service port in TIME_WAIT, where it would
        // keep a service that does not reuse addresses from listening for a minute.
        const linger reset{1, 0};
        setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }

private:
    // Answers each complete request in what has arrived; keeps a partial one.
    void serve(QTcpSocket *socket)
    {
        // Qt writes a POST's header and body separately, and Nagle holds the body
        // until the header is acknowledged: a delayed acknowledgement (40 ms on
        // Linux) would then be all either client measures. The kernel clears the
        // flag as it goes, so it is set again on every read.
        const int on = 1;
        setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        QByteArray &in = m_pending[socket];
        in += socket->readAll();
        for (;;) {
            const int headerEnd = in.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            qint64 bodyLength = 0;
            for (const QByteArray &line : in.left(headerEnd).split('\n')) {
                const int colon = line.indexOf(':');
                if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
                    bodyLength = line.mid(colon + 1).trimmed().toLongLong();
            }
            const qint64 total = headerEnd + 4 + bodyLength;
            if (in.size() < total)
                return;
            in.remove(0, int(total));
            socket->write(m_response);
        }
    }

    QByteArray m_response;
    QHash<QTcpSocket *, QByteArray> m_pending;
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
