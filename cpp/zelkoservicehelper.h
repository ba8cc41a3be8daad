#ifndef ZELKOSERVICEHELPER_H
#define ZELKOSERVICEHELPER_H

#include "onerequest.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QBuffer;

// Everything one pass over a service response frame found. arrived() turns it
// into signals; frame tools print it.
struct ZelkoFrameReport
{
    struct Resource
    {
        QString id;
        int type = 0;
        QByteArray data;
    };

    bool hasRecord = false; // false only for a frame too short to have a header
    qint64 head = 0;
    int serviceType = 0;
    int errorCode = 0;
    int compressFlag = -1; // -1: not reached
    qint64 originalLen = -1;
    qint64 compressedLen = -1; // declared; only for compressed content
    qint64 packedBytes = -1;   // compressed bytes actually present
    qint64 contentBytes = -1;  // content size after inflating
    int resourceFlag = -1;
    QList<Resource> resources; // in block order, as stored in the cache
    QString json;
    QString failure; // the decoder's reason text; empty on success
};

// The QML element "Request": posts service queries and HTTPS texts, decodes the
// service's response frames and reports each request, by key, through one signal.
class ZelkoServiceHelper : public QObject
{
    Q_OBJECT
public:
    ZelkoServiceHelper();

    // The decoding pass of arrived(), without signals: stores the resources in
    // the cache and reports what it read. Writes the decoder's log lines.
    static ZelkoFrameReport decodeFrame(const QByteArray &data);

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

private slots:
    void onError(OneRequest::ErrorType type, OneRequest *ref);
    void arrived(QByteArray data, OneRequest *ref);
    void parseResource(QBuffer *buffer);
    void sslArrived(QByteArray data, OneRequest *ref);
};

#endif
