#include "rawhttp.h"
#include "referenceservice.h"
#include "zelkoframereport.h"

#include <QTcpServer>
#include <QtTest>

#include <memory>
#include <vector>

// The reference service against hostile and slow clients, with well-behaved clients
// on other connections at the same time: every hostile request gets its error code
// or is refused, every slow client is let go once its time is up, and every good one
// still gets its correct answer.
class ServiceAbuseTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void abuseBesideGoodClients_data();
    void abuseBesideGoodClients();
    void slowClients_data();
    void slowClients();
    void connectionCaps_data();
    void connectionCaps();
    void logLinesAreEscaped_data();
    void logLinesAreEscaped();
    void burstOfClients();
    void portLeftInTimeWait();

private:
    // Short bounds, so that the slow clients' end comes soon.
    ReferenceService m_service;
};

namespace {

// The bounds m_service runs with: a request must arrive within 1.5 s of its first byte,
// a kept-alive connection may idle 2.5 s, an answer must be taken within 1.5 s.
const QStringList shortBounds{"--request-time", "1500", "--idle-time", "2500", "--write-time", "1500"};

QByteArray post(const QByteArray &body)
{
    return postSearch(body, "HTTP/1.1", "Connection: close\r\n");
}

// A correct answer to signedSearch("zlib"), read with the client's own decoder.
bool goodAnswer(const RawConnection &c, QString *why)
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
    QVERIFY2(m_service.start(0, 0, QStringLiteral(ZELKO_TEST_DATA "/dpkg-status"), shortBounds),
             qPrintable(m_service.log()));
}

void ServiceAbuseTest::cleanupTestCase()
{
    m_service.stop();
}

void ServiceAbuseTest::abuseBesideGoodClients_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("errorCode"); // the frame's error byte

    const QByteArray good = signedSearch(QStringLiteral("zlib"));
    QByteArray badSign = good;
    badSign.replace(badSign.indexOf("\"sign\":\"") + 8, 4, "0000");
    QByteArray badUtf8 = good;
    badUtf8.replace("zlib", "zl\xff\xfe");

    QTest::newRow("empty body") << QByteArray() << 1;
    QTest::newRow("invalid UTF-8") << badUtf8 << 1;
    QTest::newRow("broken JSON") << good.left(good.size() / 2) << 1;
    QTest::newRow("JSON with a NUL inside") << QByteArray("{\"service\":1,\"q\":\"a\0b\"}", 24) << 1;
    QTest::newRow("wrong signature") << badSign << 2;
    QTest::newRow("deeply nested JSON") << QByteArray(4000, '[') + QByteArray(4000, ']') << 1;
}

void ServiceAbuseTest::abuseBesideGoodClients()
{
    QFETCH(QByteArray, body);
    QFETCH(int, errorCode);

    const quint16 port = quint16(m_service.port());
    RawConnection hostile(port);
    std::vector<std::unique_ptr<RawConnection>> good;
    for (int i = 0; i < 4; ++i)
        good.emplace_back(new RawConnection(port));
    hostile.socket.write(post(body));
    for (const auto &c : good)
        c->socket.write(post(signedSearch(QStringLiteral("zlib"))));

    // Every request ends with the service closing the connection.
    QTRY_VERIFY_WITH_TIMEOUT(hostile.closed(), 30000);
    for (const auto &c : good)
        QTRY_VERIFY_WITH_TIMEOUT(c->closed(), 30000);

    QCOMPARE(hostile.status(), 200);
    const ZelkoFrameReport report = ZelkoFrameReport::decode(hostile.body());
    QCOMPARE(report.errorCode, errorCode);
    QVERIFY(report.json.isEmpty());
    for (const auto &c : good) {
        QString why;
        QVERIFY2(goodAnswer(*c, &why), qPrintable(why));
    }
}

void ServiceAbuseTest::slowClients_data()
{
    // opening: written at once; drip: written again every 200 ms, for good; tls: to the
    // feedback port; answers: how many answers come before the service lets the client go.
    QTest::addColumn<QByteArray>("opening");
    QTest::addColumn<QByteArray>("drip");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<int>("answers");
    const QByteArray query = postSearch(signedSearch(QStringLiteral("zlib")));
    QTest::newRow("stalled in the middle of a body")
        << QByteArray("POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"serv")
        << QByteArray() << false << 0;
    QTest::newRow("a byte of an endless header line at a time")
        << QByteArray("POST /search HTTP/1.1\r\nX-Slow: ") << QByteArray("a") << false << 0;
    QTest::newRow("blank lines before a request") << QByteArray() << QByteArray("\r\n") << false << 0;
    QTest::newRow("blank lines after a query") << query << QByteArray("\r\n") << false << 1;
    QTest::newRow("silent after a query") << query << QByteArray() << false << 1;
    QTest::newRow("nothing at all") << QByteArray() << QByteArray() << false << 0;
    QTest::newRow("a TLS handshake a byte at a time")
        << QByteArray::fromHex("160301") << QByteArray::fromHex("00") << true << 0;
    // Never reads: the answers fill the way back, and the service stops waiting to write.
    QByteArray pipelined;
    for (int i = 0; i < 200; ++i)
        pipelined += postSearch(signedSearch(QStringLiteral("lib"), 0, 50));
    // (A byte now and then finds the connection reset once it is let go.)
    QTest::newRow("pipelined answers never read") << pipelined << QByteArray("\r\n") << false << -1;
}

// Forty slow clients of a kind, each let go once its bound is up, while a client that
// sends at once, and one that sends slowly but within the bound, are answered.
void ServiceAbuseTest::slowClients()
{
    QFETCH(QByteArray, opening);
    QFETCH(QByteArray, drip);
    QFETCH(bool, tls);
    QFETCH(int, answers);
    const quint16 port = quint16(tls ? m_service.httpsPort() : m_service.port());
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 40; ++i) {
        slow.emplace_back(new RawConnection(port));
        // A client that does not read: what Qt takes in stays in its buffer.
        slow.back()->socket.setReadBufferSize(answers < 0 ? 16384 : 0);
        if (answers < 0)
            slow.back()->socket.disconnect();
        slow.back()->socket.write(opening);
    }
    const QByteArray query = post(signedSearch(QStringLiteral("zlib")));
    RawConnection slowButInTime(quint16(m_service.port()));
    int sent = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (const auto &c : slow)
            if (!drip.isEmpty() && c->connected())
                c->socket.write(drip);
        if (sent < query.size()) {
            slowButInTime.socket.write(query.mid(sent, 80));
            sent += 80;
        }
    });
    timer.start(200);

    RawConnection fast(quint16(m_service.port()));
    fast.socket.write(query);
    QTRY_VERIFY_WITH_TIMEOUT(fast.closed(), 20000);
    QString why;
    QVERIFY2(goodAnswer(fast, &why), qPrintable(why));
    QTRY_VERIFY_WITH_TIMEOUT(slowButInTime.closed(), 20000);
    QVERIFY2(goodAnswer(slowButInTime, &why), qPrintable(why));

    for (const auto &c : slow) {
        QTRY_VERIFY_WITH_TIMEOUT(c->closed(), 20000);
        if (answers >= 0)
            QCOMPARE(c->answers.size(), answers);
    }
}

void ServiceAbuseTest::connectionCaps_data()
{
    // Connections held open from 127.0.0.1 and 127.0.0.2, all in one state, then one more from
    // the address given: the status it gets (503: let go at once, not left in the backlog),
    // and how many held ones the service closed to make room for it. Held "busy": a request's
    // head and part of its body; "idle": answered and kept alive; "trickling": half a head.
    QTest::addColumn<QStringList>("caps");
    QTest::addColumn<QString>("held");
    QTest::addColumn<bool>("heldTls");
    QTest::addColumn<int>("heldFromFirst");
    QTest::addColumn<int>("heldFromSecond");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("closed");
    // "busy" ones stay busy: their bodies are not yet late.
    const QStringList caps{"--max-connections", "12", "--max-per-address", "8", "--stall-time", "60000"};
    // Progress holds a place, presence does not: with no grace, a request that has stopped
    // arriving is late at once.
    const QStringList noGrace{"--stall-time", "0"};
    QTest::newRow("busy, one more than an address may hold")
        << caps << "busy" << false << 8 << 0 << "127.0.0.1" << false << 503 << 0;
    QTest::newRow("busy, another address")
        << caps << "busy" << false << 8 << 0 << "127.0.0.2" << false << 200 << 0;
    QTest::newRow("busy, past the cap of all")
        << caps << "busy" << false << 8 << 4 << "127.0.0.3" << false << 503 << 0;
    QTest::newRow("idle make room at an address")
        << caps << "idle" << false << 8 << 0 << "127.0.0.1" << false << 200 << 1;
    QTest::newRow("trickling make room past the cap of all")
        << QStringList{"--max-connections", "12", "--max-per-address", "8"} + noGrace << "trickling" << false
        << 8 << 4 << "127.0.0.3" << false << 200 << 1;
    QTest::newRow("TLS, busy: let go without a handshake")
        << caps << "busy" << true << 8 << 0 << "127.0.0.1" << true << 0 << 0;
    QTest::newRow("TLS, idle make room")
        << caps << "idle" << true << 8 << 4 << "127.0.0.3" << true << 200 << 1;
    QTest::newRow("TLS busy, plain has its own budget")
        << caps << "busy" << true << 8 << 4 << "127.0.0.1" << false << 200 << 0;
    // One local process holding an address's most does not lock the others out.
    QTest::newRow("512 idle, as shipped")
        << QStringList() << "idle" << false << 512 << 0 << "127.0.0.1" << false << 200 << 1;
    QTest::newRow("512 trickling, as shipped")
        << noGrace << "trickling" << false << 512 << 0 << "127.0.0.1" << false << 200 << 1;
    QTest::newRow("512 stalled bodies, as shipped")
        << noGrace << "busy" << false << 512 << 0 << "127.0.0.1" << false << 200 << 1;
    QTest::newRow("512 stalled bodies over TLS, as shipped")
        << noGrace << "busy" << true << 512 << 0 << "127.0.0.1" << true << 200 << 1;
    QTest::newRow("512 idle over TLS, as shipped")
        << QStringList() << "idle" << true << 512 << 0 << "127.0.0.1" << true << 200 << 1;
}

void ServiceAbuseTest::connectionCaps()
{
    QFETCH(QStringList, caps);
    QFETCH(QString, held);
    QFETCH(bool, heldTls);
    QFETCH(int, heldFromFirst);
    QFETCH(int, heldFromSecond);
    QFETCH(QString, from);
    QFETCH(bool, tls);
    QFETCH(int, status);
    QFETCH(int, closed);
    ReferenceService capped;
    QVERIFY2(capped.start(0, 0, QStringLiteral(ZELKO_TEST_DATA "/dpkg-status"), caps),
             qPrintable(capped.log()));
    const auto request = [](bool overTls) {
        return overTls ? QByteArray(
                   "POST /feedback HTTP/1.1\r\nHost: x\r\nContent-Length: 12\r\n\r\n{\"text\":\"a\"}")
                       : postSearch(signedSearch(QStringLiteral("zlib")));
    };
    std::vector<std::unique_ptr<RawConnection>> conns;
    for (int i = 0; i < heldFromFirst + heldFromSecond; ++i) {
        const QHostAddress address(i < heldFromFirst ? "127.0.0.1" : "127.0.0.2");
        conns.emplace_back(
            new RawConnection(quint16(heldTls ? capped.httpsPort() : capped.port()), address, heldTls));
        // Taken by the service, not only by the kernel: answered, or told to go on with a body.
        const QByteArray whole = request(heldTls);
        conns.back()->socket.write(held == "trickling" ? QByteArray("POST /search HTTP/1.1\r\n")
                                   : held == "idle"    ? whole
                                                       : whole.left(whole.indexOf("\r\n\r\n"))
                                                          + "\r\nExpect: 100-continue\r\n\r\n");
    }
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(conns.begin(), conns.end(),
                                         [&](const auto &c) {
                                             return c->connected()
                                                    && c->answers.size() == (held == "trickling" ? 0 : 1);
                                         }),
                             20000);
    RawConnection last(quint16(tls ? capped.httpsPort() : capped.port()), QHostAddress(from), tls);
    last.socket.write(request(tls).replace("\r\n\r\n", "\r\nConnection: close\r\n\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(last.closed(), 20000);
    QCOMPARE(last.status(), status);
    QTRY_COMPARE_WITH_TIMEOUT(
        int(std::count_if(conns.begin(), conns.end(), [](const auto &c) { return c->closed(); })), closed,
        5000);
    // Stopped with every kind of connection still held: a clean exit.
    QVERIFY2(capped.stop(), qPrintable(capped.log()));
}

void ServiceAbuseTest::logLinesAreEscaped_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("logged");
    QTest::newRow("bytes beyond ASCII")
        << QByteArray("/s\xc3\xa9") << 404 << QByteArray("POST /s\\xc3\\xa9 404");
    QTest::newRow("an encoded line break stays encoded")
        << QByteArray("/a%0aPOST") << 404 << QByteArray("POST /a%0aPOST 404");
    QTest::newRow("a backslash") << QByteArray("/a\\b") << 404 << QByteArray("POST /a\\x5cb 404");
    // Cut at 256 bytes, so that long paths cannot fill the log's memory.
    QTest::newRow("a long path is cut")
        << "/" + QByteArray(300, 'a') << 404 << "POST /" + QByteArray(255, 'a') + "[cut] 404";
    QTest::newRow("a cut splits no escape")
        << "/" + QByteArray("\xc3\xa9").repeated(40) << 404
        << "POST /" + QByteArray("\\xc3\\xa9").repeated(31) + "\\xc3[cut] 404";
    // The rest of this "target" is a head and a broken chunk, read at once.
    QTest::newRow("a refusal in the read that ends its head")
        << QByteArray("/r HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n\r\nPOST /r") << 400
        << QByteArray("POST /r 400");
}

// The service's log cannot be given forged lines or terminal sequences.
void ServiceAbuseTest::logLinesAreEscaped()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QByteArray, logged);
    QElapsedTimer exchange;
    exchange.start();
    RawConnection c(quint16(m_service.port()));
    c.socket.write("POST " + target
                   + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(c.closed(), 20000);
    QCOMPARE(c.status(), status);
    QTRY_VERIFY_WITH_TIMEOUT(m_service.log().contains(QString::fromLatin1(logged)), 5000);
    // Its duration is the request's own, not the time since some other moment.
    const QString log = m_service.log();
    const int from = log.lastIndexOf(QString::fromLatin1(logged));
    const QString line = log.mid(from, log.indexOf(QLatin1Char('\n'), from) - from);
    QVERIFY2(line.endsWith(QLatin1String("us")), qPrintable(line));
    const qint64 us = line.section(QLatin1Char(' '), -1).chopped(2).toLongLong();
    QVERIFY2(us >= 0 && us <= exchange.nsecsElapsed() / 1000, qPrintable(line));
}

void ServiceAbuseTest::burstOfClients()
{
    // Clients that connect all at once, as a crowd of handsets after a network change:
    // the service must take every connection, not reset the ones past a short backlog.
    const quint16 port = quint16(m_service.port());
    std::vector<std::unique_ptr<RawConnection>> clients;
    for (int i = 0; i < 100; ++i) {
        clients.emplace_back(new RawConnection(port));
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
    RawConnection c(port);
    c.socket.write(post(signedSearch(QStringLiteral("zlib"))));
    QTRY_VERIFY_WITH_TIMEOUT(c.closed(), 20000);
    QString why;
    QVERIFY2(goodAnswer(c, &why), qPrintable(why));
}

QTEST_GUILESS_MAIN(ServiceAbuseTest)
#include "serviceabusetest.moc"
