#include "onerequest.h"
#include "zelkologging.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QHash>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

namespace {

// Live requests by key. An object address does not fit a QML int on 64-bit
// machines, so keys come from a counter that skips 0 and keys still in use.
QHash<int, OneRequest *> &keyRegistry()
{
    static QHash<int, OneRequest *> table;
    return table;
}

int nextKey()
{
    static int counter = 0;
    QHash<int, OneRequest *> &live = keyRegistry();
    do {
        counter = counter == INT_MAX ? 1 : counter + 1;
    } while (live.contains(counter));
    return counter;
}

} // namespace

OneRequest::OneRequest(QNetworkReply *reply, QObject *parent)
    : QObject(parent)
    , m_reply(reply)
    , m_key(nextKey())
{
    keyRegistry().insert(m_key, this);
    m_reply->setParent(this);
    connect(m_reply, &QNetworkReply::finished, this, &OneRequest::replyFinished);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &OneRequest::replyError);
}

OneRequest::~OneRequest()
{
    keyRegistry().remove(m_key);
    if (m_reply) {
        // Closing an unfinished reply makes it report a cancellation at once;
        // nothing may call back into an object being destroyed.
        disconnect(m_reply, nullptr, this, nullptr);
        if (m_reply->isOpen())
            m_reply->close();
        qCDebug(zelkoNetwork) << "delete reply:" << m_reply;
        m_reply->deleteLater();
    } else if (!m_droppedReply.isEmpty()) {
        // Released at shutdown: the reply is gone, its line is still owed.
        qCDebug(zelkoNetwork).noquote() << "delete reply:" << m_droppedReply;
    }
}

OneRequest *OneRequest::fromKey(int key)
{
    return keyRegistry().value(key, nullptr);
}

void OneRequest::releaseAllReplies()
{
    const QList<OneRequest *> live = keyRegistry().values();
    for (OneRequest *request : live)
        request->dropReply();
}

void OneRequest::dropReply()
{
    if (!m_reply)
        return;
    disconnect(m_reply, nullptr, this, nullptr);
    QDebug(&m_droppedReply).nospace() << m_reply;
    m_reply->abort();
    delete m_reply;
    m_reply = nullptr;
}

void OneRequest::setTimeLimit(int ms)
{
    QTimer::singleShot(ms, this, [this] {
        if (m_reply && !m_reply->isFinished())
            failWith(TimeOut);
    });
}

void OneRequest::pinPeer(const QByteArray &sha256)
{
    if (!m_reply)
        return;
    m_pinned = true;
    m_pin = sha256;
    // The pinned certificate stands in for the authorities: self-signed is fine.
    connect(m_reply, &QNetworkReply::sslErrors, this, [this] {
        if (peerIsPinned())
            m_reply->ignoreSslErrors();
    });
    // A peer the authorities vouch for must still be the pinned one. A reused
    // connection makes no handshake: replyFinished checks again.
    connect(m_reply, &QNetworkReply::encrypted, this, [this] {
        if (!peerIsPinned())
            failWith(OtherError);
    });
}

bool OneRequest::peerIsPinned() const
{
    const QSslCertificate peer = m_reply->sslConfiguration().peerCertificate();
    return !m_pin.isEmpty() && !peer.isNull() && peer.digest(QCryptographicHash::Sha256) == m_pin;
}

void OneRequest::failWith(ErrorType type)
{
    m_abortedAs = type;
    cancelReply();
}

void OneRequest::cancelReply()
{
    if (!m_reply)
        return;
    m_reply->abort();
    // abort() may have delivered the outcome, and its handler may have dropped the reply.
    if (m_reply && m_reply->isOpen())
        m_reply->close();
}

void OneRequest::replyFinished()
{
    if (!m_reply || m_reply->error() != QNetworkReply::NoError)
        return;
    if (m_pinned && !peerIsPinned()) {
        m_reply->close();
        emit error(OtherError, this);
        return;
    }
    // readAll() without its one costly step: to learn that nothing follows the
    // body it grows the buffer holding it, which can copy the body again. Each
    // read here takes what is there (at least a chunk, so that it goes straight
    // into its result) until one finds nothing.
    const qint64 chunk = 16 * 1024;
    QByteArray body;
    for (;;) {
        const QByteArray part = m_reply->read(qMax(m_reply->bytesAvailable(), chunk));
        if (part.isEmpty())
            break;
        body += part;
    }
    m_reply->close();
    if (body.isEmpty())
        emit error(DataError, this);
    else
        emit finished(body, this);
}

void OneRequest::replyError(QNetworkReply::NetworkError code)
{
    qCDebug(zelkoNetwork) << "Net ERROR CODE:" << int(code);
    switch (code) {
    case QNetworkReply::NoError:
        return;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
        emit error(Error, this);
        return;
    case QNetworkReply::TimeoutError:
        emit error(TimeOut, this);
        return;
    case QNetworkReply::OperationCanceledError:
        emit error(m_abortedAs ? ErrorType(m_abortedAs) : Canceled, this);
        return;
    default:
        emit error(OtherError, this);
        return;
    }
}
