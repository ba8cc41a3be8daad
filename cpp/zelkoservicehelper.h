#ifndef ZELKOSERVICEHELPER_H
#define ZELKOSERVICEHELPER_H

#include "onerequest.h"
#include "zelkoframereport.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>
#include <qqml.h>

class QBuffer;

// The QML element "Request": posts service queries and HTTPS texts, decodes the
// service's response frames and reports each request, by key, through one signal.
class ZelkoServiceHelper : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Request)
    // Opt-in, beyond the described element; their defaults keep it as described.
    // Where request() posts; empty: the address the client was built with.
    Q_PROPERTY(QString url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(QString defaultUrl READ defaultUrl CONSTANT)
    // Milliseconds a request may take before it ends in error(TimeOut); 0: no limit.
    Q_PROPERTY(int timeout READ timeout WRITE setTimeout NOTIFY timeoutChanged)
    // requestHttps verifies the server's certificate as the toolkit normally does.
    Q_PROPERTY(bool verifyPeer READ verifyPeer WRITE setVerifyPeer NOTIFY verifyPeerChanged)
    // requestHttps takes only this certificate: a PEM file (path or file: URL) or
    // its SHA-256 fingerprint in hex (colons allowed). One that cannot be read takes none.
    Q_PROPERTY(QString pinnedCertificate READ pinnedCertificate WRITE setPinnedCertificate NOTIFY
                   pinnedCertificateChanged)
public:
    // The errCode values of error(), by name: Request.Canceled in QML.
    enum ErrorCode {
        TimeOut = OneRequest::TimeOut,
        Error = OneRequest::Error,
        Canceled = OneRequest::Canceled,
        DataError = OneRequest::DataError,
        OtherError = OneRequest::OtherError
    };
    Q_ENUM(ErrorCode)

    ZelkoServiceHelper();

    QString url() const;
    void setUrl(const QString &url);
    static QString defaultUrl();
    int timeout() const { return m_timeout; }
    void setTimeout(int ms);
    bool verifyPeer() const { return m_verifyPeer; }
    void setVerifyPeer(bool verify);
    QString pinnedCertificate() const { return m_pinnedCertificate; }
    void setPinnedCertificate(const QString &certificate);

    // The SHA-256 digest a pinnedCertificate text names; empty when it names none.
    static QByteArray pinDigest(const QString &certificate);

public slots:
    int beginRequest(QString *data);
    int request(QString str);
    void cancel(int key);
    QString urlEncode(QString url);
    QString getKey();
    QString getEncryptString(QString str);
    QString getEncryptParam(QString str, QString key);
    int requestHttps(QString content, QString url);

signals:
    void error(int errCode, int key);
    void response(int type, int error, QString json, int key);
    void sslResponse(QString json, int key);
    // After the signals above, the one account of how request key ended: an object
    // with ok, code, serviceError, type, json, httpStatus and message.
    void finished(int key, QVariant outcome);
    void urlChanged();
    void timeoutChanged();
    void verifyPeerChanged();
    void pinnedCertificateChanged();

private slots:
    void onError(OneRequest::ErrorType type, OneRequest *ref);
    void arrived(QByteArray data, OneRequest *ref);
    void parseResource(QBuffer *buffer);
    void sslArrived(QByteArray data, OneRequest *ref);

private:
    OneRequest *started(OneRequest *ref);
    // Whether anything listens to finished(): its account is made only for a listener.
    bool reportsOutcome() const;

    QString m_url;
    int m_timeout = 0;
    bool m_verifyPeer = false;
    QString m_pinnedCertificate;
    QByteArray m_pin; // what m_pinnedCertificate names; empty when it names nothing
};

#endif
