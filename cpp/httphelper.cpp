#include "httphelper.h"
#include "onerequest.h"
#include "zelkologging.h"
#include "zelkoqtroot.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUrl>

#include <limits>

HttpHelper *HttpHelper::m_helper = nullptr;

namespace {

// Qt sends a request for an invalid URL all the same, to what is left of it:
// "http://127.0.0.1:99999/x" goes to port 80. An empty URL fails later instead,
// with the protocol error every unusable address gets.
QUrl usableUrl(const QString &text)
{
    const QUrl url(text);
    return url.isValid() ? url : QUrl();
}

// Every request speaks HTTP/1.1, as Qt 5 does by default: Qt 6 would offer HTTP/2 over TLS,
// which the reference service does not speak.
QNetworkRequest requestFor(const QString &url)
{
    QNetworkRequest request{usableUrl(url)};
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    return request;
}

// Exactly the type Qt (5 and 6) would add by itself to a POST without one, so the
// bytes on the wire are the same; given here, it spares a warning per request.
QNetworkRequest postRequestFor(const QString &url)
{
    QNetworkRequest request = requestFor(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    return request;
}

// A redirect's own answer is the outcome and the query goes nowhere else: Qt 5 follows
// no redirect by default, Qt 6 follows them unless told not to.
QNetworkAccessManager *newManager(QObject *parent)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 polls the network interfaces every 10 s from a thread of its own, which wakes an
    // idle phone; no request needs it. Once in 24 days is as never as Qt takes (it refuses
    // -1 with a warning). A program's own choice stands.
    if (!qEnvironmentVariableIsSet("QT_BEARER_POLL_TIMEOUT"))
        qputenv("QT_BEARER_POLL_TIMEOUT", QByteArray::number(std::numeric_limits<int>::max()));
#endif
    auto *manager = new QNetworkAccessManager(parent);
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    return manager;
}

} // namespace

HttpHelper::HttpHelper(QObject *parent)
    : QObject(parent)
{
    qCDebug(zelkoNetwork) << "call httpHelper";
    m_manager = newManager(this);
    m_postRequest = postRequestFor(m_postUrl);
}

HttpHelper::~HttpHelper()
{
    // Replies belong to their requests, not to the manager: they must not
    // outlive it still wired to its connections.
    OneRequest::releaseAllReplies();
    if (m_helper == this)
        m_helper = nullptr;
}

HttpHelper *HttpHelper::getInstance()
{
    if (!m_helper)
        m_helper = new HttpHelper(ZelkoQtRoot::getInstance());
    return m_helper;
}

OneRequest *HttpHelper::get(QString url, QObject *parent)
{
    return new OneRequest(m_manager->get(requestFor(url)), parent ? parent : this, url);
}

OneRequest *HttpHelper::post(QString url, const QString *data, QObject *parent)
{
    // No header beyond the network layer's defaults.
    if (url != m_postUrl) {
        m_postRequest = postRequestFor(url);
        m_postUrl = url;
    }
    return send(m_manager, m_postRequest, url, data, parent);
}

OneRequest *HttpHelper::postSsl(QString url, const QString *data, QObject *parent)
{
    // The certificate is asked for but not verified: any HTTPS endpoint QML names is accepted.
    QNetworkRequest request = postRequestFor(url);
    QSslConfiguration tls = request.sslConfiguration();
    tls.setPeerVerifyMode(QSslSocket::QueryPeer);
    request.setSslConfiguration(tls);
    return send(m_manager, request, url, data, parent);
}

OneRequest *HttpHelper::postSslChecked(QString url, const QString *data, QObject *parent, PeerCheck check,
                                       const QByteArray &pin)
{
    QNetworkAccessManager *&manager = check == PeerCheck::Verify ? m_verifyingManager : m_pinnedManagers[pin];
    if (!manager)
        manager = newManager(this);
    return send(manager, postRequestFor(url), url, data, parent);
}

OneRequest *HttpHelper::send(QNetworkAccessManager *manager, const QNetworkRequest &request,
                             const QString &url, const QString *data, QObject *parent)
{
    QNetworkReply *reply = manager->post(request, data->toUtf8());
    // Failures name the address as the caller wrote it, also one that is not a URL.
    return new OneRequest(reply, parent ? parent : this, url);
}
