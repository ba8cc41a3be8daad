#include "onerequest.h"
#include "zelkologging.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QHash>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

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

// A reply that reported an error may not have finished yet: closing or aborting it then
// would report a second error, which Qt refuses with a warning ("Internal problem").
bool mayStop(const QNetworkReply *reply)
{
    return reply->error() == QNetworkReply::NoError;
}

QString pinMismatch()
{
    return QStringLiteral("the server's certificate does not match the pin");
}

} // namespace

// Why the reply failed: our own reason for an abort of ours, the HTTP status where
// the server answered with an error, Qt's text otherwise.
QString OneRequest::describe(QNetworkReply::NetworkError code) const
{
    if (!m_abortReason.isEmpty())
        return m_abortReason;
    if (code == QNetworkReply::OperationCanceledError)
        return QStringLiteral("cancelled");
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString phrase = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return phrase.isEmpty() ? QStringLiteral("HTTP %1").arg(status)
                                : QStringLiteral("HTTP %1 %2").arg(status).arg(phrase);
    }
    return m_reply->errorString();
}

OneRequest::OneRequest(QNetworkReply *reply, QObject *parent)
    : OneRequest(reply, parent, reply->url().toString())
{
}

OneRequest::OneRequest(QNetworkReply *reply, QObject *parent, const QString &url)
    : QObject(parent)
    , m_reply(reply)
    , m_key(nextKey())
    , m_url(url)
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
        if (m_reply->isOpen() && mayStop(m_reply))
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
    if (mayStop(m_reply))
        m_reply->abort();
    delete m_reply;
    m_reply = nullptr;
}

void OneRequest::setTimeLimit(int ms)
{
    // A coarse timer may fire up to 5% early. Owned by the request, it goes with it: a
    // request that ended in time leaves no wake-up behind.
    auto *limit = new QTimer(this);
    limit->setSingleShot(true);
    limit->setTimerType(Qt::PreciseTimer);
    connect(limit, &QTimer::timeout, this, [this, ms] {
        if (m_reply && !m_reply->isFinished())
            failWith(TimeOut, QStringLiteral("no answer within %1 ms").arg(ms));
    });
    limit->start(ms);
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
        else
            m_abortReason = pinMismatch();
    });
    // A peer the authorities vouch for must still be the pinned one. A reused
    // connection makes no handshake: replyFinished checks again.
    connect(m_reply, &QNetworkReply::encrypted, this, [this] {
        if (!peerIsPinned())
            failWith(OtherError, pinMismatch());
    });
}

bool OneRequest::peerIsPinned() const
{
    const QSslCertificate peer = m_reply->sslConfiguration().peerCertificate();
    return !m_pin.isEmpty() && !peer.isNull() && peer.digest(QCryptographicHash::Sha256) == m_pin;
}

void OneRequest::failWith(ErrorType type, const QString &why)
{
    if (m_ended)
        return;
    m_abortedAs = type;
    m_abortReason = why;
    cancelReply();
}

void OneRequest::cancelReply()
{
    // Once the outcome is out, the reply may still be on its way to finishing: an abort
    // then would report a second error.
    if (!m_reply || m_ended)
        return;
    m_reply->abort();
    // abort() may have delivered the outcome, and its handler may have dropped the reply.
    if (m_reply && m_reply->isOpen())
        m_reply->close();
}

bool OneRequest::end(const QString &failure)
{
    if (m_ended)
        return false;
    m_ended = true;
    m_httpStatus = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Requests follow no redirect: one that arrives is named as such, not as a broken answer.
    const QByteArray location = m_reply->rawHeader("Location");
    if (m_httpStatus >= 300 && m_httpStatus < 400 && !location.isEmpty())
        m_redirect = QUrl(m_url).resolved(QUrl::fromEncoded(location)).toString();
    m_failure = failure;
    return true;
}

void OneRequest::replyFinished()
{
    if (!m_reply || m_reply->error() != QNetworkReply::NoError)
        return;
    if (m_pinned && !peerIsPinned()) {
        if (!end(pinMismatch()))
            return;
        m_reply->close();
        emit error(OtherError, this);
        return;
    }
    // readAll() without its costly steps: to learn that nothing follows the body it
    // grows the buffer holding it, which can copy the body again. A finished reply
    // says how much it holds: a read of that takes it in one piece, shared rather than
    // copied where the reply holds it in one. At least a chunk at a time, for a reply
    // that counts what it has yet to inflate as a single byte.
    const qint64 chunk = 16 * 1024;
    QByteArray body;
    for (qint64 available; (available = m_reply->bytesAvailable()) > 0;) {
        const QByteArray part = m_reply->read(qMax(available, chunk));
        if (part.isEmpty())
            break;
        body += part;
    }
    m_reply->close();
    if (!end(QString()))
        return;
    if (body.isEmpty()) {
        m_failure = m_redirect.isEmpty() ? QStringLiteral("the answer has an empty body")
                                         : QStringLiteral("it redirects to ") + m_redirect
                                               + QStringLiteral(", and requests follow no redirect");
        emit error(DataError, this);
    } else {
        emit finished(body, this);
    }
}

void OneRequest::replyError(QNetworkReply::NetworkError code)
{
    qCDebug(zelkoNetwork) << "Net ERROR CODE:" << int(code);
    if (code == QNetworkReply::NoError || !end(describe(code)))
        return;
    switch (code) {
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
