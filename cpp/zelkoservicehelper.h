#ifndef ZELKOSERVICEHELPER_H
#define ZELKOSERVICEHELPER_H

#include "onerequest.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QBuffer;

// The QML element "Request": posts service queries and HTTPS texts, decodes the
// service's response frames and reports each request, by key, through one signal.
class ZelkoServiceHelper : public QObject
{
    Q_OBJECT
public:
    ZelkoServiceHelper();

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
