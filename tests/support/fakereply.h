#ifndef FAKEREPLY_H
#define FAKEREPLY_H

#include <QNetworkReply>
#include <QTimer>

// A reply that reports whatever network error a row asks for: conditions no
// loopback server can produce on demand (time-outs, proxy and protocol errors).
class FakeReply : public QNetworkReply
{
    Q_OBJECT
public:
    explicit FakeReply(QObject *parent = nullptr)
        : QNetworkReply(parent)
    {
        open(QIODevice::ReadOnly);
    }

    // Reports as the network layer does: the error signal first, then finished.
    void complete(QNetworkReply::NetworkError code, const QByteArray &body = QByteArray())
    {
        if (isFinished())
            return;
        m_body = body;
        if (code != NoError) {
            setError(code, QStringLiteral("fake"));
            emit errorOccurred(code);
        }
        setFinished(true);
        emit finished();
    }

    void abort() override { complete(OperationCanceledError); }
    qint64 bytesAvailable() const override { return m_body.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin<qint64>(maxSize, m_body.size());
        memcpy(data, m_body.constData(), size_t(n));
        m_body.remove(0, int(n));
        return n;
    }

private:
    QByteArray m_body;
};

#endif
