#include "minihttpserver.h"
#include "zelkotesting.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>

QByteArray ReceivedRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return QByteArray();
}

bool ReceivedRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

MiniHttpServer::MiniHttpServer(bool tls, quint16 port, QObject *parent)
    : QTcpServer(parent)
    , m_tls(tls)
{
    setCannedResponse(response("ok"));
    listen(QHostAddress::LocalHost, port);
}

MiniHttpServer::~MiniHttpServer()
{
    if (m_isService)
        ZelkoTesting::setServiceUrl(QString());
}

MiniHttpServer *MiniHttpServer::asService(QObject *parent)
{
    auto *server = new MiniHttpServer(false, 0, parent);
    server->m_isService = true;
    ZelkoTesting::setServiceUrl(server->url());
    return server;
}

void MiniHttpServer::setCannedResponse(const QByteArray &raw, bool closeAfter)
{
    m_responder = [raw, closeAfter](QTcpSocket *socket, const ReceivedRequest &) {
        socket->write(raw);
        if (closeAfter)
            socket->disconnectFromHost();
    };
}

QString MiniHttpServer::url(const QString &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(serverPort())
        .arg(path);
}

QByteArray MiniHttpServer::response(const QByteArray &body, int status, const QByteArray &extraHeaders)
{
    return "HTTP/1.1 " + QByteArray::number(status)
           + " Status\r\n"
             "Content-Length: "
           + QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

void MiniHttpServer::incomingConnection(qintptr socketDescriptor)
{
    QTcpSocket *socket;
    if (m_tls) {
        auto *ssl = new QSslSocket(this);
        ssl->setSocketDescriptor(socketDescriptor);
        QFile cert(QStringLiteral(ZELKO_TEST_DATA "/server.crt"));
        QFile key(QStringLiteral(ZELKO_TEST_DATA "/server.key"));
        cert.open(QIODevice::ReadOnly);
        key.open(QIODevice::ReadOnly);
        ssl->setLocalCertificate(QSslCertificate(&cert));
        ssl->setPrivateKey(QSslKey(&key, QSsl::Rsa));
        if (!m_alpn.isEmpty()) {
            QSslConfiguration config = ssl->sslConfiguration();
            config.setAllowedNextProtocols(m_alpn);
            ssl->setSslConfiguration(config);
        }
        connect(ssl, &QSslSocket::encrypted, this, [this, ssl] {
            negotiatedProtocols.append(ssl->sslConfiguration().nextNegotiatedProtocol());
        });
        // A client that rejects the certificate just goes away.
        connect(ssl, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), ssl, [] {});
        ssl->startServerEncryption();
        socket = ssl;
    } else {
        socket = new QTcpSocket(this);
        socket->setSocketDescriptor(socketDescriptor);
    }
    socket->setProperty("pending", QByteArray());
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequests(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void MiniHttpServer::readRequests(QTcpSocket *socket)
{
    QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
    for (;;) {
        const int headEnd = pending.indexOf("\r\n\r\n");
        if (headEnd < 0)
            break;
        ReceivedRequest request;
        const QList<QByteArray> lines = pending.left(headEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        const int length = request.header("Content-Length").toInt();
        if (pending.size() < headEnd + 4 + length)
            break;
        request.body = pending.mid(headEnd + 4, length);
        pending.remove(0, headEnd + 4 + length);
        requests.append(request);
        emit requestReceived();
        if (m_responder)
            m_responder(socket, request);
    }
    socket->setProperty("pending", pending);
}
