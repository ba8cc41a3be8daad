#include "rawhttp.h"
#include "querysigning.h"
#include "zelkoservicehelper.h"

QList<RawAnswer> takeAnswers(QByteArray &data, int *headOnly)
{
    QList<RawAnswer> answers;
    for (;;) {
        const int end = data.indexOf("\r\n\r\n");
        if (end < 0 || !data.startsWith("HTTP/1.1 "))
            break;
        RawAnswer a;
        a.head = data.left(end);
        a.status = data.mid(9, 3).toInt();
        int length = 0;
        for (const QByteArray &line : a.head.split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toInt();
        // An interim answer is not the one a HEAD request gets.
        if (headOnly && *headOnly > 0 && a.status >= 200) {
            length = 0;
            --*headOnly;
        }
        if (data.size() < end + 4 + length)
            break;
        a.body = data.mid(end + 4, length);
        data.remove(0, end + 4 + length);
        answers.append(a);
    }
    return answers;
}

RawConnection::RawConnection(quint16 port, const QHostAddress &from, bool tls)
{
    QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
        const QByteArray more = socket.readAll();
        received += more;
        pending += more;
        answers += takeAnswers(pending, &headOnly);
    });
    if (!from.isNull())
        socket.bind(from);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (tls)
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    else
        socket.connectToHost(QHostAddress::LocalHost, port);
}

QByteArray signedSearch(const QString &q, int page, int pageSize)
{
    // Signed with the client's own code, as a handset would.
    ZelkoServiceHelper client;
    return QuerySigning::searchQuery(
        q, page, pageSize, [&client](const QString &text) { return client.getEncryptString(text); });
}

QByteArray postSearch(const QByteArray &body, const QByteArray &version, const QByteArray &extraHeaders)
{
    return "POST /search " + version + "\r\nHost: 127.0.0.1\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}
