#ifndef MINIHTTPSERVER_H
#define MINIHTTPSERVER_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QTcpServer>
#include <functional>

class QTcpSocket;

// One HTTP/1.1 request as the server saw it on the wire.
struct ReceivedRequest
{
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

// An in-process server on 127.0.0.1 answering canned bytes, plain or over TLS
// with the self-signed certificate kept under tests/data.
class MiniHttpServer : public QTcpServer
{
    Q_OBJECT
public:
    // Gets every complete request; writes its answer (or nothing, to stall) on the socket.
    using Responder = std::function<void(QTcpSocket *socket, const ReceivedRequest &request)>;

    explicit MiniHttpServer(bool tls = false, quint16 port = 0, QObject *parent = nullptr);
    ~MiniHttpServer() override;
    // A server on a free port that the Request element posts its service queries
    // to, whatever address the build compiled in, until the server goes.
    static MiniHttpServer *asService(QObject *parent = nullptr);

    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // The same raw bytes for every request; the connection closes after them when asked.
    void setCannedResponse(const QByteArray &raw, bool closeAfter = false);
    QString url(const QString &path = QStringLiteral("/search")) const;
    // Over TLS: the application protocols (ALPN) the server would agree to, beside none.
    void setAlpnProtocols(const QList<QByteArray> &protocols) { m_alpn = protocols; }

    QList<ReceivedRequest> requests;
    // Over TLS: the protocol agreed on each connection, empty where none was.
    QList<QByteArray> negotiatedProtocols;

    static QByteArray response(const QByteArray &body, int status = 200,
                               const QByteArray &extraHeaders = QByteArray());

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void readRequests(QTcpSocket *socket);

    bool m_tls;
    bool m_isService = false;
    QList<QByteArray> m_alpn;
    Responder m_responder;
};

#endif
