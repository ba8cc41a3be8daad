#ifndef RAWHTTP_H
#define RAWHTTP_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QSslSocket>

// Raw HTTP/1.1 for the service suites: bytes written exactly as given, answers read back
// as the wire carries them.

struct RawAnswer
{
    int status = 0;
    QByteArray head; // status line and fields, without the blank line
    QByteArray body;
};

// The complete answers at the front of data, taken out of it; the first headOnly of them
// (answers to HEAD) carry no body whatever their length says, and headOnly counts down.
QList<RawAnswer> takeAnswers(QByteArray &data, int *headOnly = nullptr);

// One connection to 127.0.0.1:port, from the given local address (127.0.0.2 is another
// client as far as the service can tell), keeping everything that comes back; over TLS
// (any certificate) when asked.
struct RawConnection
{
    QSslSocket socket;
    QByteArray received; // all of it
    QByteArray pending;  // not yet a complete answer
    QList<RawAnswer> answers;
    int headOnly = 0; // answers still to come to HEAD requests

    explicit RawConnection(quint16 port, const QHostAddress &from = QHostAddress(), bool tls = false);
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    bool connected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    // Of the first answer; 0 before one came.
    int status() const { return answers.isEmpty() ? 0 : answers.first().status; }
    QByteArray body() const { return answers.isEmpty() ? QByteArray() : answers.first().body; }
};

// A search query for q as the client signs it, and a POST of it (or of any body) to /search.
QByteArray signedSearch(const QString &q, int page = 0, int pageSize = 10);
QByteArray postSearch(const QByteArray &body, const QByteArray &version = "HTTP/1.1",
                      const QByteArray &extraHeaders = QByteArray());

#endif
