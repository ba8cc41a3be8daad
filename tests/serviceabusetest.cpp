#include "referenceservice.h"
#include "zelkoframereport.h"
#include "zelkoservicehelper.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

// The reference service against hostile and slow clients, with well-behaved clients
// on other connections at the same time: every hostile request gets its error code
// or is refused, and every good one still gets its correct answer.
class ServiceAbuseTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void abuseBesideGoodClients_data();
    void abuseBesideGoodClients();
    void slowSenders_data();
    void slowSenders();
    void burstOfClients();
    void portLeftInTimeWait();

private:
    ReferenceService m_service;
};

namespace {

QByteArray signedSearch(const QString &q)
{
    ZelkoServiceHelper client;
    const QString sign = client.getEncryptString(QStringLiteral("1|%1|0|10").arg(q));
    return QStringLiteral("{\"service\":1,\"q\":\"%1\",\"page\":0,\"pageSize\":10,\"sign\":\"%2\"}")
        .arg(q, sign)
        .toUtf8();
}

QByteArray post(const QByteArray &body, const QByteArray &extraHeaders = QByteArray())
{
    return "POST /search HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

// One raw connection: writes what it is given and keeps everything that comes back.
struct Connection
{
    QTcpSocket socket;
    QByteArray received;

    explicit Connection(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    int status() const { return received.startsWith("HTTP/1.1 ") ? received.mid(9, 3).toInt() : 0; }
    QByteArray body() const
    {
        const int end = received.indexOf("\r\n\r\n");
        return end < 0 ? QByteArray() : received.mid(end + 4);
    }
};

// A correct answer to signedSearch("zlib"), read with the client's own decoder.
bool goodAnswer(const Connection &c, QString *why)
{
    if (c.status() != 200) {
        *why = QStringLiteral("status %1: %2").arg(c.status()).arg(QString::fromLatin1(c.received.left(200)));
        return false;
    }
    const ZelkoFrameReport report = ZelkoFrameReport::decode(c.body());
    if (!report.ok() || report.serviceType != 1 || !report.json.contains(QLatin1String("\"q\":\"zlib\""))
        || !report.json.contains(QLatin1String("\"name\":\"zlib1g\""))) {
        *why = QStringLiteral("wrong answer: %1 %2").arg(report.failureText(), report.json.left(200));
        return false;
    }
    return true;
}

} // namespace

void ServiceAbuseTest::initTestCase()
{
    QVERIFY2(m_service.start(0, 0, QStringLiteral(ZELKO_TEST_DATA "/dpkg-status")),
             qPrintable(m_service.log()));
}

void ServiceAbuseTest::cleanupTestCase()
{
    m_service.stop();
}

void ServiceAbuseTest::abuseBesideGoodClients_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("errorCode"); // the frame's error byte; -1 where no frame comes back

    const QByteArray good = signedSearch(QStringLiteral("zlib"));
    QByteArray badSign = good;
    badSign.replace(badSign.indexOf("\"sign\":\"") + 8, 4, "0000");
    QByteArray badUtf8 = good;
    badUtf8.replace("zlib", "zl\xff\xfe");

    QTest::newRow("empty body") << post(QByteArray()) << 200 << 1;
    QTest::newRow("body over the size limit") << post(QByteArray(9000, '{')) << 413 << -1;
    QTest::newRow("over the limit by declaration only") << QByteArray(
        "POST /search HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 2147483648\r\n\r\n")
                                                        << 413 << -1;
    QTest::newRow("invalid UTF-8") << post(badUtf8) << 200 << 1;
    QTest::newRow("broken JSON") << post(good.left(good.size() / 2)) << 200 << 1;
    QTest::newRow("JSON with a NUL inside")
        << post(QByteArray("{\"service\":1,\"q\":\"a\0b\"}", 24)) << 200 << 1;
    QTest::newRow("wrong signature") << post(badSign) << 200 << 2;
    QTest::newRow("deeply nested JSON") << post(QByteArray(4000, '[') + QByteArray(4000, ']')) << 200 << 1;
    QTest::newRow("binary instead of HTTP")
        << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\r\n\r\n", 13) << 400 << -1;
}

void ServiceAbuseTest::abuseBesideGoodClients()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(int, errorCode);

    const quint16 port = quint16(m_service.port());
    Connection hostile(port);
    std::vector<std::unique_ptr<Connection>> good;
    for (int i = 0; i < 4; ++i)
        good.emplace_back(new Connection(port));
    hostile.socket.write(request);
    for (const auto &c : good)
        c->socket.write(post(signedSearch(QStringLiteral("zlib"))));

    // Every request ends with the service closing the connection.
    QTRY_VERIFY_WITH_TIMEOUT(hostile.closed(), 30000);
    for (const auto &c : good)
        QTRY_VERIFY_WITH_TIMEOUT(c->closed(), 30000);

    QCOMPARE(hostile.status(), status);
    if (errorCode >= 0) {
        const ZelkoFrameReport report = ZelkoFrameReport::decode(hostile.body());
        QCOMPARE(report.errorCode, errorCode);
        QVERIFY(report.json.isEmpty());
    }
    for (const auto &c : good) {
        QString why;
        QVERIFY2(goodAnswer(*c, &why), qPrintable(why));
    }
}

void ServiceAbuseTest::slowSenders_data()
{
    // stalled: stop in the middle of a body and send nothing more;
    // trickling: send one more byte of an endless header line, over and over.
    QTest::addColumn<int>("stalled");
    QTest::addColumn<int>("trickling");
    QTest::newRow("a few stalled") << 4 << 0;
    QTest::newRow("more tricklers than the library's default workers") << 0 << 40;
    QTest::newRow("stalled and trickling together") << 10 << 40;
}

void ServiceAbuseTest::slowSenders()
{
    QFETCH(int, stalled);
    QFETCH(int, trickling);
    const quint16 port = quint16(m_service.port());

    std::vector<std::unique_ptr<Connection>> owned;
    QList<Connection *> stalledOnes, tricklers;
    for (int i = 0; i < stalled + trickling; ++i) {
        owned.emplace_back(new Connection(port));
        if (i < stalled) {
            stalledOnes.append(owned.back().get());
            owned.back()->socket.write(
                "POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"serv");
        } else {
            tricklers.append(owned.back().get());
            owned.back()->socket.write("POST /search HTTP/1.1\r\nX-Slow: ");
        }
    }
    // A good query sent in small pieces: slow, but complete in the end.
    const QByteArray slowQuery = post(signedSearch(QStringLiteral("zlib")));
    Connection slow(port);
    int sent = 0;
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] {
        for (Connection *t : tricklers)
            t->socket.write("a");
        if (sent < slowQuery.size()) {
            slow.socket.write(slowQuery.mid(sent, 8));
            sent += 8;
        }
    });
    drip.start(100);
    auto connected = [](const QList<Connection *> &list) {
        return std::all_of(list.begin(), list.end(), [](Connection *c) {
            return c->socket.state() == QAbstractSocket::ConnectedState;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(connected(stalledOnes) && connected(tricklers), 20000);

    // A client that sends at once is answered while every slow one still holds its connection.
    Connection fast(port);
    fast.socket.write(post(signedSearch(QStringLiteral("zlib"))));
    QTRY_VERIFY_WITH_TIMEOUT(fast.closed(), 20000);
    QString why;
    QVERIFY2(goodAnswer(fast, &why), qPrintable(why));
    QVERIFY(connected(tricklers));

    QTRY_VERIFY_WITH_TIMEOUT(slow.closed(), 30000);
    QVERIFY2(goodAnswer(slow, &why), qPrintable(why));
    // A sender that stops is dropped by the service, with a 400 at most.
    for (Connection *c : stalledOnes) {
        QTRY_VERIFY_WITH_TIMEOUT(c->closed(), 30000);
        QVERIFY2(c->status() == 0 || c->status() == 400, c->received.constData());
    }
    QVERIFY2(connected(tricklers), qPrintable(m_service.log().right(3000)));
}

void ServiceAbuseTest::burstOfClients()
{
    // Clients that connect all at once, as a crowd of handsets after a network change:
    // the service must take every connection, not reset the ones past a short backlog.
    const quint16 port = quint16(m_service.port());
    std::vector<std::unique_ptr<Connection>> clients;
    for (int i = 0; i < 100; ++i) {
        clients.emplace_back(new Connection(port));
        clients.back()->socket.write(post(signedSearch(QStringLiteral("zlib"))));
    }
    for (const auto &c : clients) {
        QTRY_VERIFY_WITH_TIMEOUT(c->closed(), 60000);
        QString why;
        QVERIFY2(goodAnswer(*c, &why), qPrintable(why));
    }
}

void ServiceAbuseTest::portLeftInTimeWait()
{
    // A program that just served on the port (a test server, the service before a restart)
    // leaves its closed connections in TIME_WAIT for a minute; the service must still bind.
    QTcpServer previous;
    QVERIFY(previous.listen(QHostAddress::LocalHost));
    const quint16 port = previous.serverPort();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(previous.waitForNewConnection(10000));
    QTcpSocket *served = previous.nextPendingConnection();
    QVERIFY(client.waitForConnected(10000));
    // Closed by the serving end first, so that end is the one left in TIME_WAIT.
    served->close();
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 10000);
    previous.close();

    ReferenceService again;
    QVERIFY2(again.start(port, 0, QStringLiteral(ZELKO_TEST_DATA "/dpkg-status")), qPrintable(again.log()));
    Connection c(port);
    c.socket.write(post(signedSearch(QStringLiteral("zlib"))));
    QTRY_VERIFY_WITH_TIMEOUT(c.closed(), 20000);
    QString why;
    QVERIFY2(goodAnswer(c, &why), qPrintable(why));
}

QTEST_GUILESS_MAIN(ServiceAbuseTest)
#include "serviceabusetest.moc"
