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
    ~OneRequest() override;

    void cancelReply();

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

    QNetworkReply *m_reply;
    int m_key;
    QString m_droppedReply; // the debug form of a reply released at shutdown
};

Q_DECLARE_METATYPE(OneRequest *)

#endif
