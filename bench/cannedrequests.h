#ifndef CANNEDREQUESTS_H
#define CANNEDREQUESTS_H

// What the benchmarks' canned servers share: taking whole requests off kept-alive
// connections and answering each with bytes chosen for its body.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace bench {

enum class Take {
    Request,
    NeedMore,
    Bad
};

// Takes the first whole request off in, with its body in *body; a partial one stays.
// Bad: a head past 16 KiB or a body past 64 KiB (the client's queries are a few
// hundred bytes).
inline Take takeRequest(QByteArray &in, QByteArray *body)
{
    const int headerEnd = in.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return in.size() > 16384 ? Take::Bad : Take::NeedMore;
    qint64 bodyLength = 0;
    for (const QByteArray &line : in.left(headerEnd).split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            bodyLength = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (bodyLength < 0 || bodyLength > 65536)
        return Take::Bad;
    const qint64 total = headerEnd + 4 + bodyLength;
    if (in.size() < total)
        return Take::NeedMore;
    *body = in.mid(headerEnd + 4, int(bodyLength));
    in.remove(0, int(total));
    return Take::Request;
}

// Qt writes a POST's head and body separately, and Nagle holds the body until the head
// is acknowledged: a delayed acknowledgement (40 ms on Linux) would then be all either
// client measures. The kernel clears the flag as it goes, so it is set on every read.
inline void acknowledgeNow(QTcpSocket *socket)
{
    const int on = 1;
    setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

// Answers every whole request in what has arrived with answerTo(its body), on
// kept-alive connections, without Nagle on its side; a request past the limits of
// takeRequest() gets 400 and the connection is closed.
class CannedHttpServer : public QTcpServer
{
protected:
    // The whole HTTP answer, head included.
    virtual QByteArray answerTo(const QByteArray &body) = 0;
    virtual void refused() {}

    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }

private:
    void serve(QTcpSocket *socket)
    {
        acknowledgeNow(socket);
        QByteArray &in = m_pending[socket];
        in += socket->readAll();
        QByteArray body;
        Take took;
        while ((took = takeRequest(in, &body)) == Take::Request)
            socket->write(answerTo(body));
        if (took == Take::Bad) {
            refused();
            m_pending.remove(socket);
            socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
        }
    }

    QHash<QTcpSocket *, QByteArray> m_pending;
};

} // namespace bench

#endif
