#include "bytecache.h"
#include "referenceservice.h"
#include "searchservice.h"
#include "thumbnail.h"
#include "zelkoframereport.h"
#include "zelkoservicehelper.h"

#include <QDir>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

// The search endpoint's HTTP server in the real zelko-service: how requests are framed
// and answered on one connection, what the limits refuse, and what idle connections cost.
class ServiceHttpTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void exchange_data();
    void exchange();
    void idleConnectionsCostNoThreads();
    void thumbnailCache_data();
    void thumbnailCache();
    void thumbnailCacheAcrossThreads();
    void answerCache_data();
    void answerCache();
    void answerCacheKeepsItsOwnKeys();

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

QByteArray post(const QString &q, const QByteArray &version = "HTTP/1.1",
                const QByteArray &extra = QByteArray())
{
    const QByteArray body = signedSearch(q);
    return "POST /search " + version + "\r\nHost: 127.0.0.1\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n" + extra + "\r\n" + body;
}

struct Answer
{
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// The complete answers at the front of data, taken out of it.
QList<Answer> takeAnswers(QByteArray &data)
{
    QList<Answer> answers;
    for (;;) {
        const int end = data.indexOf("\r\n\r\n");
        if (end < 0 || !data.startsWith("HTTP/1.1 "))
            break;
        Answer a;
        a.head = data.left(end);
        a.status = data.mid(9, 3).toInt();
        int length = 0;
        for (const QByteArray &line : a.head.split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toInt();
        }
        if (data.size() < end + 4 + length)
            break;
        a.body = data.mid(end + 4, length);
        data.remove(0, end + 4 + length);
        answers.append(a);
    }
    return answers;
}

// One raw connection that keeps what comes back, answer by answer.
struct Connection
{
    QTcpSocket socket;
    QByteArray pending;
    QList<Answer> answers;

    explicit Connection(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            pending += socket.readAll();
            answers += takeAnswers(pending);
        });
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
};

QString answeredQuery(const Answer &a)
{
    const ZelkoFrameReport report = ZelkoFrameReport::decode(a.body);
    if (!report.ok() || report.errorCode != 0)
        return QStringLiteral("(no good frame: %1)").arg(report.failureText());
    const QJsonObject json = QJsonDocument::fromJson(report.json.toUtf8()).object();
    return json.value(QLatin1String("q")).toString();
}

QList<QByteArray> bytes(const QByteArray &request)
{
    QList<QByteArray> pieces;
    for (char c : request)
        pieces.append(QByteArray(1, c));
    return pieces;
}

} // namespace

void ServiceHttpTest::initTestCase()
{
    QVERIFY2(m_service.start(0, 0, QStringLiteral(ZELKO_TEST_DATA "/dpkg-status")),
             qPrintable(m_service.log()));
}

void ServiceHttpTest::cleanupTestCase()
{
    m_service.stop();
}

void ServiceHttpTest::exchange_data()
{
    // pieces: written one after the other, each on its own;
    // statuses: of the answers, in order; queries: the q of each 200 answer, in order;
    // closes: the service ends the connection after the last answer, else another query
    // on it must still be answered; inHead: text some answer's header must carry.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<QStringList>("queries");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QByteArray>("inHead");

    const QByteArray three = post("zlib") + post("pigz") + post("adduser");
    QTest::newRow("pipelined, answered in order")
        << QList<QByteArray>{three} << QList<int>{200, 200, 200} << QStringList{"zlib", "pigz", "adduser"}
        << false << QByteArray("Content-Type: application/octet-stream");
    QTest::newRow("pipelined, split inside the second")
        << QList<QByteArray>{three.left(three.size() / 2), three.mid(three.size() / 2)}
        << QList<int>{200, 200, 200} << QStringList{"zlib", "pigz", "adduser"} << false << QByteArray();
    QTest::newRow("sent byte by byte")
        << bytes(post("zlib")) << QList<int>{200} << QStringList{"zlib"} << false << QByteArray();
    QTest::newRow("HTTP/1.0 closes") << QList<QByteArray>{post("zlib", "HTTP/1.0")} << QList<int>{200}
                                     << QStringList{"zlib"} << true << QByteArray("Connection: close");
    QTest::newRow("HTTP/1.0 keep-alive")
        << QList<QByteArray>{post("zlib", "HTTP/1.0", "Connection: keep-alive\r\n")} << QList<int>{200}
        << QStringList{"zlib"} << false << QByteArray("Connection: keep-alive");
    QTest::newRow("Connection: close, nothing after it answered")
        << QList<QByteArray>{post("zlib", "HTTP/1.1", "Connection: close\r\n") + post("pigz")}
        << QList<int>{200} << QStringList{"zlib"} << true << QByteArray("Connection: close");
    QTest::newRow("Expect: 100-continue")
        << QList<QByteArray>{post("zlib", "HTTP/1.1", "Expect: 100-continue\r\n")} << QList<int>{200}
        << QStringList{"zlib"} << false << QByteArray();
    QTest::newRow("GET, then a query on the same connection")
        << QList<QByteArray>{"GET /search HTTP/1.1\r\nHost: x\r\n\r\n" + post("pigz")} << QList<int>{405, 200}
        << QStringList{"pigz"} << false << QByteArray("Allow: POST");
    QTest::newRow("other path, then a query")
        << QList<QByteArray>{"POST /other HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}" + post("pigz")}
        << QList<int>{404, 200} << QStringList{"pigz"} << false << QByteArray();
    QTest::newRow("header too large")
        << QList<QByteArray>{"POST /search HTTP/1.1\r\nX-Big: " + QByteArray(9000, 'a')} << QList<int>{431}
        << QStringList() << true << QByteArray("Connection: close");
    QByteArray many = "POST /search HTTP/1.1\r\n";
    for (int i = 0; i < 100; ++i)
        many += "X-" + QByteArray::number(i) + ": 1\r\n";
    QTest::newRow("too many header fields")
        << QList<QByteArray>{many + "\r\n"} << QList<int>{431} << QStringList() << true << QByteArray();
    QTest::newRow("request line too long")
        << QList<QByteArray>{"GET /" + QByteArray(5000, 'a') + " HTTP/1.1\r\n\r\n"} << QList<int>{414}
        << QStringList() << true << QByteArray();
    QTest::newRow("unknown HTTP version")
        << QList<QByteArray>{"POST /search HTTP/2.0\r\nContent-Length: 0\r\n\r\n"} << QList<int>{505}
        << QStringList() << true << QByteArray();
    QTest::newRow("length and chunks at once") << QList<
        QByteArray>{"POST /search HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "0\r\n\r\n"} << QList<int>{400}
                                               << QStringList() << true << QByteArray();
    QTest::newRow("two different lengths")
        << QList<QByteArray>{"POST /search HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n{}x"}
        << QList<int>{400} << QStringList() << true << QByteArray();
    QTest::newRow("folded header line") << QList<QByteArray>{"POST /search HTTP/1.1\r\nX-A: 1\r\n  2\r\n\r\n"}
                                        << QList<int>{400} << QStringList() << true << QByteArray();
}

void ServiceHttpTest::exchange()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<int>, statuses);
    QFETCH(QStringList, queries);
    QFETCH(bool, closes);
    QFETCH(QByteArray, inHead);

    Connection c(quint16(m_service.port()));
    QVERIFY(c.socket.waitForConnected(10000));
    for (const QByteArray &piece : pieces) {
        c.socket.write(piece);
        QVERIFY(c.socket.waitForBytesWritten(10000));
    }
    QTRY_VERIFY_WITH_TIMEOUT(c.answers.size() >= statuses.size() || c.closed(), 20000);
    if (closes)
        QTRY_VERIFY_WITH_TIMEOUT(c.closed(), 20000);

    QList<int> got;
    QStringList answered;
    bool headSeen = inHead.isEmpty();
    for (const Answer &a : c.answers) {
        if (a.status == 100) // an interim answer, before the real one
            continue;
        got.append(a.status);
        if (a.status == 200)
            answered.append(answeredQuery(a));
        headSeen = headSeen || a.head.contains(inHead);
    }
    QCOMPARE(got, statuses);
    QCOMPARE(answered, queries);
    QVERIFY2(headSeen, c.answers.isEmpty() ? "no answer" : c.answers.last().head.constData());
    if (closes) {
        QVERIFY(c.pending.isEmpty());
        return;
    }
    // Still open, and still answering.
    QVERIFY(!c.closed());
    const int before = c.answers.size();
    c.socket.write(post("minizip"));
    QTRY_VERIFY_WITH_TIMEOUT(c.answers.size() > before || c.closed(), 20000);
    QVERIFY(!c.closed());
    QCOMPARE(answeredQuery(c.answers.last()), QStringLiteral("minizip"));
}

void ServiceHttpTest::idleConnectionsCostNoThreads()
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(m_service.pid()));
    const auto threads = [&tasks] { return tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    const int before = threads();
    QVERIFY(before > 0);

    // Each asks once and then stays open without a word, as kept-alive clients do.
    std::vector<std::unique_ptr<Connection>> idle;
    for (int i = 0; i < 300; ++i) {
        idle.emplace_back(new Connection(quint16(m_service.port())));
        idle.back()->socket.write(post("zlib"));
    }
    const auto allAnswered = [&idle] {
        return std::all_of(idle.begin(), idle.end(), [](const std::unique_ptr<Connection> &c) {
            return c->answers.size() == 1 && !c->closed();
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allAnswered(), 60000);
    QCOMPARE(threads(), before);

    Connection fresh(quint16(m_service.port()));
    fresh.socket.write(post("pigz"));
    QTRY_VERIFY_WITH_TIMEOUT(!fresh.answers.isEmpty(), 20000);
    QCOMPARE(answeredQuery(fresh.answers.first()), QStringLiteral("pigz"));
    QVERIFY(allAnswered());
    QCOMPARE(threads(), before);
}

void ServiceHttpTest::thumbnailCache_data()
{
    QTest::addColumn<int>("tilesOfRoom"); // the budget, in tiles of about the usual size
    QTest::addColumn<int>("names");
    QTest::newRow("room for all") << 100 << 20;
    QTest::newRow("room for a few") << 3 << 20;
    QTest::newRow("room for none") << 0 << 5;
}

void ServiceHttpTest::thumbnailCache()
{
    QFETCH(int, tilesOfRoom);
    QFETCH(int, names);
    const size_t tile = size_t(Thumbnail::png(QStringLiteral("name-00")).size()) + 200;
    const size_t budget = size_t(tilesOfRoom) * tile;
    ByteCache cache(budget);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < names; ++i) {
            const QString name = QStringLiteral("name-%1").arg(i, 2, 10, QLatin1Char('0'));
            // Drawn or kept, the bytes are those of the tile itself.
            QCOMPARE(Thumbnail::cachedPng(cache, name), Thumbnail::png(name));
            QVERIFY2(cache.bytes() <= budget, qPrintable(QString::number(cache.bytes())));
        }
    }
    QVERIFY(cache.count() <= names);
    if (tilesOfRoom >= names)
        QCOMPARE(cache.count(), names);
    else
        QVERIFY(cache.count() < names);
}

void ServiceHttpTest::thumbnailCacheAcrossThreads()
{
    // Evicting and drawing at once from several threads, as the workers do.
    QVector<QByteArray> expected;
    for (int i = 0; i < 40; ++i)
        expected.append(Thumbnail::png(QStringLiteral("pkg-%1").arg(i)));
    ByteCache cache(size_t(expected.first().size() + 200) * 10);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < 400; ++n) {
                const int i = (n * 7 + t * 13) % 40;
                if (Thumbnail::cachedPng(cache, QStringLiteral("pkg-%1").arg(i)) != expected.at(i))
                    ++wrong;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QCOMPARE(wrong.load(), 0);
}

void ServiceHttpTest::answerCache_data()
{
    QTest::addColumn<QByteArrayList>("bodies"); // each asked twice, in turn
    QTest::addColumn<int>("room");              // in answers of the largest size; -1: the service's default
    QTest::addColumn<int>("kept");
    const QByteArray badSign = signedSearch("zlib").replace("\"sign\":\"", "\"sign\":\"0");
    QTest::newRow("answers kept") << QByteArrayList{signedSearch("zlib"), signedSearch("pigz")} << -1 << 2;
    QTest::newRow("refusals not kept") << QByteArrayList{badSign, "{}", "\xff"} << -1 << 0;
    QTest::newRow("no cache") << QByteArrayList{signedSearch("zlib")} << 0 << 0;
    QTest::newRow("room for one") << QByteArrayList{signedSearch("zlib"), signedSearch("pigz")} << 1 << 1;
}

void ServiceHttpTest::answerCache()
{
    QFETCH(QByteArrayList, bodies);
    QFETCH(int, room);
    QFETCH(int, kept);
    const QByteArray status = [] {
        QFile file(QStringLiteral(ZELKO_TEST_DATA "/dpkg-status"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(!status.isEmpty());
    const SearchService uncached(PackageIndex::fromStatusText(status), 0);
    int largest = 0;
    for (const QByteArray &body : bodies)
        largest = qMax(largest, int(uncached.answer(body).size() + body.size()));
    const size_t budget =
        room < 0 ? SearchService::DefaultAnswerCacheBytes : size_t(room) * size_t(largest + 200);
    const SearchService cached(PackageIndex::fromStatusText(status), budget);
    for (int round = 0; round < 2; ++round) {
        for (const QByteArray &body : bodies)
            QCOMPARE(cached.answer(body), uncached.answer(body));
    }
    QCOMPARE(cached.keptAnswers(), kept);
}

void ServiceHttpTest::answerCacheKeepsItsOwnKeys()
{
    // The server hands over views of its connection buffers, reused or freed once answered.
    QFile file(QStringLiteral(ZELKO_TEST_DATA "/dpkg-status"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray status = file.readAll();
    const SearchService uncached(PackageIndex::fromStatusText(status), 0);
    const SearchService cached(PackageIndex::fromStatusText(status));
    const QByteArray body = signedSearch("zlib");
    std::string buffer(body.constData(), size_t(body.size()));
    cached.answer(QByteArray::fromRawData(buffer.data(), int(buffer.size())));
    std::fill(buffer.begin(), buffer.end(), ' ');
    QCOMPARE(cached.answer(body), uncached.answer(body));
    QCOMPARE(cached.keptAnswers(), 1);
}

QTEST_GUILESS_MAIN(ServiceHttpTest)
#include "servicehttptest.moc"
