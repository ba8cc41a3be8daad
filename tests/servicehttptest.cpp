#include "bytecache.h"
#include "rawhttp.h"
#include "referenceservice.h"
#include "searchservice.h"
#include "thumbnail.h"
#include "zelkoframereport.h"
#include "zelkoservicehelper.h"

#include <QDir>
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

QByteArray signedSearch(const char *q)
{
    return ::signedSearch(QString::fromLatin1(q));
}

QByteArray post(const QString &q, const QByteArray &version = "HTTP/1.1",
                const QByteArray &extra = QByteArray())
{
    return postSearch(::signedSearch(q), version, extra);
}

// A query as one chunk of a chunked body, with the given chunk line and the given end.
QByteArray chunkedPost(const QString &q, const QByteArray &chunkLineEnd = ";ext=1\r\n",
                       const QByteArray &fields = "Transfer-Encoding: chunked\r\n")
{
    const QByteArray body = ::signedSearch(q);
    return "POST /search HTTP/1.1\r\nHost: x\r\n" + fields + "\r\n" + QByteArray::number(body.size(), 16)
           + chunkLineEnd + body + "\r\n0\r\n\r\n";
}

QString answeredQuery(const RawAnswer &a)
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
    // A request after a refused one shows whether anything more is read: it never is.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<QStringList>("queries");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QByteArray>("inHead");
    using Pieces = QList<QByteArray>;
    using Codes = QList<int>;
    const QByteArray next = post("pigz");

    const QByteArray three = post("zlib") + post("pigz") + post("adduser");
    QTest::newRow("pipelined, answered in order")
        << Pieces{three} << Codes{200, 200, 200} << QStringList{"zlib", "pigz", "adduser"} << false
        << QByteArray("Content-Type: application/octet-stream");
    QTest::newRow("pipelined, split inside the second")
        << Pieces{three.left(three.size() / 2), three.mid(three.size() / 2)} << Codes{200, 200, 200}
        << QStringList{"zlib", "pigz", "adduser"} << false << QByteArray();
    QTest::newRow("sent byte by byte")
        << bytes(post("zlib")) << Codes{200} << QStringList{"zlib"} << false << QByteArray();
    QTest::newRow("blank lines before a request")
        << Pieces{"\r\n\r\n" + post("zlib")} << Codes{200} << QStringList{"zlib"} << false << QByteArray();
    QTest::newRow("a blank line split across segments")
        << Pieces{"\r", "\n" + post("zlib")} << Codes{200} << QStringList{"zlib"} << false << QByteArray();
    QTest::newRow("absolute-form target")
        << Pieces{post("zlib").replace("POST /search", "POST http://127.0.0.1/search?x=1")} << Codes{200}
        << QStringList{"zlib"} << false << QByteArray();
    QTest::newRow("chunked in any case, with spaces")
        << Pieces{chunkedPost("zlib", "\r\n", "Transfer-Encoding:  ChUnKeD \r\n") + next} << Codes{200, 200}
        << QStringList{"zlib", "pigz"} << false << QByteArray();
    QTest::newRow("the same length twice is one length")
        << Pieces{post("zlib", "HTTP/1.1",
                       "Content-Length: " + QByteArray::number(signedSearch("zlib").size()) + "\r\n")
                  + next}
        << Codes{200, 200} << QStringList{"zlib", "pigz"} << false << QByteArray();
    QTest::newRow("HTTP/1.0 closes") << Pieces{post("zlib", "HTTP/1.0")} << Codes{200} << QStringList{"zlib"}
                                     << true << QByteArray("Connection: close");
    QTest::newRow("HTTP/1.0 keep-alive")
        << Pieces{post("zlib", "HTTP/1.0", "Connection: keep-alive\r\n")} << Codes{200} << QStringList{"zlib"}
        << false << QByteArray("Connection: keep-alive");
    QTest::newRow("Connection: close, nothing after it answered")
        << Pieces{post("zlib", "HTTP/1.1", "Connection: close\r\n") + next} << Codes{200}
        << QStringList{"zlib"} << true << QByteArray("Connection: close");
    QTest::newRow("Expect: 100-continue") << Pieces{post("zlib", "HTTP/1.1", "Expect: 100-continue\r\n")}
                                          << Codes{200} << QStringList{"zlib"} << false << QByteArray();
    // One writer: the interim answer waits for the answer before it.
    QTest::newRow("a query, then one with Expect: 100-continue, in one write")
        << Pieces{post("zlib") + post("pigz", "HTTP/1.1", "Expect: 100-continue\r\n")} << Codes{200, 200}
        << QStringList{"zlib", "pigz"} << false << QByteArray();
    QTest::newRow("HEAD: the fields alone, then a query")
        << Pieces{"HEAD /search HTTP/1.1\r\nHost: x\r\n\r\n" + next} << Codes{405, 200} << QStringList{"pigz"}
        << false << QByteArray("Content-Length: 19");
    QTest::newRow("other Expect") << Pieces{post("zlib", "HTTP/1.1", "Expect: 200-ok\r\n") + next}
                                  << Codes{417} << QStringList() << true << QByteArray();
    QTest::newRow("GET, then a query on the same connection")
        << Pieces{"GET /search HTTP/1.1\r\nHost: x\r\n\r\n" + next} << Codes{405, 200} << QStringList{"pigz"}
        << false << QByteArray("Allow: POST");
    QTest::newRow("other path, then a query")
        << Pieces{"POST /other HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}" + next} << Codes{404, 200}
        << QStringList{"pigz"} << false << QByteArray();
    QTest::newRow("chunked query, extension by the grammar")
        << Pieces{chunkedPost("zlib") + next} << Codes{200, 200} << QStringList{"zlib", "pigz"} << false
        << QByteArray();
    QTest::newRow("multipart")
        << Pieces{"POST /search HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
                  "boundary=b\r\nContent-Length: 30\r\n\r\n--b\r\n\r\n{}\r\n--b--\r\n\r\n"
                  + next}
        << Codes{415} << QStringList() << true << QByteArray();

    // Limits: refused at once, and the connection with them.
    QTest::newRow("body over the limit") << Pieces{postSearch(QByteArray(9000, '{')) + next} << Codes{413}
                                         << QStringList() << true << QByteArray("Connection: close");
    QTest::newRow("over the limit by declaration only")
        << Pieces{"POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 4000000000\r\n\r\n"} << Codes{413}
        << QStringList() << true << QByteArray();
    QByteArray chunks = "POST /search HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 5; ++i)
        chunks += "800\r\n" + QByteArray(0x800, 'y') + "\r\n";
    QTest::newRow("chunked over the limit")
        << Pieces{chunks + "0\r\n\r\n"} << Codes{413} << QStringList() << true << QByteArray();
    QTest::newRow("header too large")
        << Pieces{"POST /search HTTP/1.1\r\nX-Big: " + QByteArray(9000, 'a')} << Codes{431} << QStringList()
        << true << QByteArray("Connection: close");
    QByteArray many = "POST /search HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 100; ++i)
        many += "X-" + QByteArray::number(i) + ": 1\r\n";
    QTest::newRow("too many header fields")
        << Pieces{many + "\r\n"} << Codes{431} << QStringList() << true << QByteArray();
    QTest::newRow("request line longer than a head")
        << Pieces{"GET /" + QByteArray(9000, 'a') + " HTTP/1.1\r\n\r\n"} << Codes{431} << QStringList()
        << true << QByteArray();

    // Framing: every malformed or ambiguous head is refused and ends the connection, so
    // that nothing after it is read as a request of its own.
    const auto refused = [&](const char *name, const QByteArray &request, int status) {
        QTest::newRow(name) << Pieces{request + next} << Codes{status} << QStringList() << true
                            << QByteArray();
    };
    refused("unknown HTTP version", "POST /search HTTP/2.0\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 505);
    refused("binary instead of HTTP", QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\r\n\r\n", 13), 400);
    refused("length and chunks at once",
            chunkedPost("zlib", ";ext=1\r\n",
                        "Content-Length: 5\r\n"
                        "Transfer-Encoding: chunked\r\n"),
            400);
    refused("two different lengths",
            "POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n{}x", 400);
    refused("broken chunking",
            "POST /search HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n0\r\n\r\n",
            400);
    refused("chunked, then identity",
            chunkedPost("zlib", "\r\n", "Transfer-Encoding: chunked\r\nTransfer-Encoding: identity\r\n"),
            400);
    refused("chunked, then gzip",
            chunkedPost("zlib", "\r\n", "Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n"), 400);
    refused("chunked twice in one field",
            chunkedPost("zlib", "\r\n", "Transfer-Encoding: chunked, chunked\r\n"), 400);
    refused("gzip, then chunked", chunkedPost("zlib", "\r\n", "Transfer-Encoding: gzip, chunked\r\n"), 501);
    refused("identity alone", "POST /search HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: identity\r\n\r\n{}",
            501);
    // Transfer-Encoding is read whole, by the list grammar: anything but the one coding
    // "chunked" is refused, never read as chunked or as no coding at all.
    for (const char *value :
         {"\"chunked\"", "@, chunked", "(gzip), chunked", "\\chunked", "chunked gzip", "chunked/1.1",
          "chunked;", "chunked;q", "chunked;q=\"1", "chunked;q=\"1\\", "chunked,,\x01", "\r\n chunked"})
        refused(qPrintable(QStringLiteral("Transfer-Encoding: %1").arg(QLatin1String(value))),
                chunkedPost("zlib", "\r\n", QByteArray("Transfer-Encoding: ") + value + "\r\n"), 400);
    refused("chunked with a parameter, then gzip",
            chunkedPost("zlib", "\r\n", "Transfer-Encoding: chunked;q=1, gzip\r\n"), 501);
    refused("chunked with a parameter", chunkedPost("zlib", "\r\n", "Transfer-Encoding: chunked;q=1\r\n"),
            400);
    refused("HTTP/1.0 with chunks", chunkedPost("zlib", "\r\n").replace("HTTP/1.1", "HTTP/1.0"), 400);
    refused("chunk line ending in a bare LF", chunkedPost("zlib", "\n"), 400);
    refused("chunk extension with a control byte", chunkedPost("zlib", ";ext=\x01\r\n"), 400);
    refused("chunk extension with a CR", chunkedPost("zlib", ";e\rxt\r\n"), 400);
    refused("quoted chunk extension with a line feed", chunkedPost("zlib", ";e=\"a\nb\"\r\n"), 400);
    refused("quoted chunk extension with a control byte", chunkedPost("zlib", ";e=\"a\x01b\"\r\n"), 400);
    QTest::newRow("a folded field, the head in two pieces")
        << Pieces{"POST /search HTTP/1.1\r\nHost: x\r\nX-Folded: a\r\n b\r\nC",
                  "ontent-Length: 2\r\n\r\n{}" + next}
        << Codes{400} << QStringList() << true << QByteArray();
    const QByteArray nul(1, '\0');
    refused("NUL in the method", "PO" + nul + "ST /search HTTP/1.1\r\nHost: x\r\n\r\n", 400);
    refused("NUL in a field name",
            "POST /search HTTP/1.1\r\nHost: x\r\nTransfer-Encoding" + nul + ": chunked\r\n\r\n", 400);
    refused("ESC in the target", "POST /search\x1b HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 400);
    refused("no Host", "POST /search HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", 400);
    refused("two Hosts", "POST /search HTTP/1.1\r\nHost: a\r\nHost: b\r\nContent-Length: 2\r\n\r\n{}", 400);
}

void ServiceHttpTest::exchange()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<int>, statuses);
    QFETCH(QStringList, queries);
    QFETCH(bool, closes);
    QFETCH(QByteArray, inHead);

    RawConnection c(quint16(m_service.port()));
    QVERIFY(c.socket.waitForConnected(10000));
    for (const QByteArray &piece : pieces)
        c.headOnly += piece.count("HEAD /");
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
    for (const RawAnswer &a : c.answers) {
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
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 300; ++i) {
        idle.emplace_back(new RawConnection(quint16(m_service.port())));
        idle.back()->socket.write(post("zlib"));
    }
    const auto allAnswered = [&idle] {
        return std::all_of(idle.begin(), idle.end(), [](const std::unique_ptr<RawConnection> &c) {
            return c->answers.size() == 1 && !c->closed();
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allAnswered(), 60000);
    QCOMPARE(threads(), before);

    RawConnection fresh(quint16(m_service.port()));
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
