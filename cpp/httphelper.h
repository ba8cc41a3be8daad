#ifndef HTTPHELPER_H
#define HTTPHELPER_H

#include <QByteArray>
#include <QHash>
#include <QNetworkRequest>
#include <QObject>
#include <QString>

class OneRequest;
class QNetworkAccessManager;

// The one process-wide HTTP transport: every request comes back wrapped in a OneRequest.
// Queries and unchecked HTTPS posts share one network access manager; HTTPS posts that
// check their peer get managers of their own (below).
class HttpHelper : public QObject
{
    Q_OBJECT
public:
    static HttpHelper *getInstance();
    ~HttpHelper() override;

public slots:
    OneRequest *get(QString url, QObject *parent = nullptr);
    OneRequest *post(QString url, const QString *data, QObject *parent = nullptr);
    OneRequest *postSsl(QString url, const QString *data, QObject *parent = nullptr);

public:
    // How postSslChecked treats the peer: the toolkit's normal verification, or
    // verification by the caller (pinning, see OneRequest::pinPeer).
    enum class PeerCheck {
        Verify,
        ByCaller
    };
    // postSsl for callers that check the peer; postSsl itself takes any certificate.
    // ByCaller names the pin (OneRequest::pinPeer) the caller will check.
    OneRequest *postSslChecked(QString url, const QString *data, QObject *parent, PeerCheck check,
                               const QByteArray &pin = QByteArray());

private:
    explicit HttpHelper(QObject *parent);
    OneRequest *send(QNetworkAccessManager *manager, const QNetworkRequest &request, const QString &url,
                     const QString *data, QObject *parent);

    QNetworkAccessManager *m_manager;
    // What post() last sent to, made ready once: a client posts its queries to one address,
    // and parsing it takes a tenth of a request's time.
    QString m_postUrl;
    QNetworkRequest m_postRequest;
    // One for verification and one per pin, made on first use. A manager reuses its
    // connections and TLS sessions whatever trust they were made under, and a resumed
    // session is not verified again: a connection taken without verification, or
    // under another pin, would carry a request past its check.
    QNetworkAccessManager *m_verifyingManager = nullptr;
    QHash<QByteArray, QNetworkAccessManager *> m_pinnedManagers;
    static HttpHelper *m_helper;
};

#endif
