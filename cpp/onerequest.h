#ifndef ONEREQUEST_H
#define ONEREQUEST_H

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>

// One HTTP request in flight: turns everything its reply reports into exactly one
// outcome, finished() or error(), and owns the reply.
class OneRequest : public QObject
{
    Q_OBJECT
public:
    enum ErrorType {
        TimeOut = 1,
        Error = 2,
        Canceled = 3,
        DataError = 4,
        OtherError = 5
    };
    Q_ENUM(ErrorType)

    OneRequest(QNetworkReply *reply, QObject *parent);
    // url: the address as the caller wrote it (see setUrl).
    OneRequest(QNetworkReply *reply, QObject *parent, const QString &url);
    ~OneRequest() override;

    void cancelReply();

    // Opt-in checks a Request element may ask for; without them the request runs
    // as long as the network layer lets it and takes any peer.
    // Ends the request in error(TimeOut) unless it completes within ms (never sooner).
    void setTimeLimit(int ms);
    // Takes only the TLS peer whose certificate has this SHA-256 digest; any
    // other ends the request in error(OtherError). An empty digest takes none.
    void pinPeer(const QByteArray &sha256);

    // How the request ended, for a person to read. The address it went to; the HTTP
    // status of the answer, 0 when none came; and for a failure, why, in words.
    QString url() const { return m_url; }
    // The address as the caller wrote it; by default the reply's own.
    void setUrl(const QString &url) { m_url = url; }
    int httpStatus() const { return m_httpStatus; }
    // Where a redirect answer points, resolved against url(); empty for any other answer.
    QString redirectTarget() const { return m_redirect; }
    QString failureText() const { return m_failure; }

    // The request key QML sees: non-zero and unique among live requests.
    int key() const { return m_key; }
    static OneRequest *fromKey(int key);
    // Aborts and drops every live reply, silently; for shutdown before the
    // network access manager goes.
    static void releaseAllReplies();

signals:
    void error(OneRequest::ErrorType err, OneRequest *self);
    void finished(QByteArray data, OneRequest *self);

private slots:
    void replyError(QNetworkReply::NetworkError code);
    void replyFinished();

private:
    void dropReply();
    // Aborts the reply; its cancellation is then reported as type, for the reason given.
    void failWith(ErrorType type, const QString &why);
    bool peerIsPinned() const;
    QString describe(QNetworkReply::NetworkError code) const;
    // Notes what the reply says of its end; true the first time only.
    bool end(const QString &failure);

    QNetworkReply *m_reply;
    int m_key;
    int m_abortedAs = 0; // the outcome an abort of ours stands for; 0: a cancellation
    bool m_pinned = false;
    bool m_ended = false; // the outcome was emitted (or is being)
    int m_httpStatus = 0;
    QByteArray m_pin; // SHA-256 of the only peer certificate taken
    QString m_url;
    QString m_failure;
    QString m_redirect;
    QString m_abortReason;  // why an abort of ours ended the request
    QString m_droppedReply; // the debug form of a reply released at shutdown
};

Q_DECLARE_METATYPE(OneRequest *)

#endif
