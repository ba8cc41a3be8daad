#ifndef HTTPHELPER_H
#define HTTPHELPER_H

#include <QObject>
#include <QString>

class OneRequest;
class QNetworkAccessManager;
class QNetworkRequest;

// The one process-wide HTTP transport: every request goes through its single
// network access manager and comes back wrapped in a OneRequest.
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

private:
    explicit HttpHelper(QObject *parent);
    OneRequest *send(const QNetworkRequest &request, const QString *data, QObject *parent);

    QNetworkAccessManager *m_manager;
    static HttpHelper *m_helper;
};

#endif
