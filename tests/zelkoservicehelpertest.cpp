#include "httphelper.h"
#include "minihttpserver.h"
#include "onerequest.h"
#include "zelkoqtroot.h"
#include "signalrecorder.h"
#include "zelkoservicehelper.h"

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtTest>

// The Request element over real loopback sockets: one outcome per request, by key.
class ZelkoServiceHelperTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();
    void transportOutcomes_data();
    void transportOutcomes();
    void hostNotFound();
    void serviceRoadPostsTheText_data();
    void serviceRoadPostsTheText();
    void manyInFlight();
    void cancelInFlight_data();
    void cancelInFlight();
    void cancelAfterCompletion();
    void shutdownWithRequestsInFlight();
    void urlEncode_data();
    void urlEncode();
    void signingForwards();
};

void ZelkoServiceHelperTest::init()
{
    qRegisterMetaType<OneRequest::ErrorType>();
}

void ZelkoServiceHelperTest::cleanupTestCase()
{
    ZelkoQtRoot::destroy();
}

void ZelkoServiceHelperTest::transportOutcomes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QVariantList>("expected");
    // kind: 0 connection refused, 1 closed mid-reply, 2 http 404, 3 empty body, 4 the body given
    QTest::newRow("connection refused") << 0 << QByteArray() << QVariantList{"error", 2};
    QTest::newRow("remote host closed mid-reply") << 1 << QByteArray() << QVariantList{"error", 2};
    QTest::newRow("http 404") << 2 << QByteArray() << QVariantList{"error", 5};
    QTest::newRow("empty body") << 3 << QByteArray() << QVariantList{"error", 4};
    const QString json = QStringLiteral("{\"a\":\"é\"}");
    QTest::newRow("json body") << 4 << json.toUtf8() << QVariantList{"sslResponse", json};
    // Every byte is text, a zero byte too: QML gets all twelve characters.
    const QByteArray withZero("{\"a\":1}\0tail", 12);
    QTest::newRow("zero byte inside")
        << 4 << withZero << QVariantList{"sslResponse", QString::fromUtf8(withZero.constData(), 12)};
    const QByteArray zeroFirst("\0{}", 3);
    QTest::newRow("zero byte first") << 4 << zeroFirst
                                     << QVariantList{"sslResponse", QString(QChar(0)) + QStringLiteral("{}")};
}

void ZelkoServiceHelperTest::transportOutcomes()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, body);
    QFETCH(QVariantList, expected);
    MiniHttpServer server;
    QString url = server.url();
    switch (kind) {
    case 0:
        server.close();
        break;
    case 1:
        server.setCannedResponse("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", true);
        break;
    case 2:
        server.setCannedResponse(MiniHttpServer::response("not here", 404));
        break;
    case 3:
        server.setCannedResponse(MiniHttpServer::response(QByteArray()));
        break;
    case 4:
        server.setCannedResponse(MiniHttpServer::response(body));
        break;
    }
    ZelkoServiceHelper element;
    Recorder rec(&element);
    const int key = element.requestHttps(QStringLiteral("hello"), url);
    QVERIFY(key != 0);
    QVERIFY(rec.waitFor(1));
    QTRY_COMPARE(liveRequests(element), 0);
    QCOMPARE(rec.events.size(), 1);
    expected.append(key);
    QCOMPARE(rec.events.first(), expected);
}

void ZelkoServiceHelperTest::hostNotFound()
{
    ZelkoServiceHelper element;
    Recorder rec(&element);
    const int key = element.requestHttps(QString(), QStringLiteral("http://no-such-host.invalid/"));
    QVERIFY(rec.waitFor(1, 60000));
    QCOMPARE(rec.events.first(), (QVariantList{"error", 2, key}));
}

void ZelkoServiceHelperTest::serviceRoadPostsTheText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty text, empty body") << QString();
    QTest::newRow("utf-8 query") << QStringLiteral("{\"q\":\"Zürich\"}");
}

void ZelkoServiceHelperTest::serviceRoadPostsTheText()
{
    QFETCH(QString, text);
    QScopedPointer<MiniHttpServer> server(MiniHttpServer::asService());
    QVERIFY(server->isListening());
    server->setCannedResponse(MiniHttpServer::response(QByteArray()));
    ZelkoServiceHelper element;
    Recorder rec(&element);
    const int key = element.request(text);
    QVERIFY(rec.waitFor(1));
    QCOMPARE(rec.events.first(), (QVariantList{"error", 4, key}));
    QCOMPARE(server->requests.size(), 1);
    QCOMPARE(server->requests[0].method, QByteArray("POST"));
    QCOMPARE(server->requests[0].body, text.toUtf8());
}

void ZelkoServiceHelperTest::manyInFlight()
{
    // Answers come back after random delays, so completions arrive out of order.
    MiniHttpServer server;
    server.setResponder([](QTcpSocket *socket, const ReceivedRequest &request) {
        QPointer<QTcpSocket> guard(socket);
        const QByteArray answer = MiniHttpServer::response("echo:" + request.body);
        QTimer::singleShot(int(QRandomGenerator::global()->bounded(20)), socket, [guard, answer] {
            if (guard)
                guard->write(answer);
        });
    });
    ZelkoServiceHelper element;
    Recorder rec(&element);
    QHash<int, QString> sent;
    for (int i = 0; i < 200; ++i) {
        const QString body = QStringLiteral("q%1").arg(i);
        const int key = element.requestHttps(body, server.url());
        QVERIFY(key != 0);
        QVERIFY2(!sent.contains(key), "key reused while live");
        sent.insert(key, body);
    }
    QVERIFY(rec.waitFor(200, 60000));
    QSet<int> done;
    for (const QVariantList &e : rec.events) {
        QCOMPARE(e.value(0).toString(), QStringLiteral("sslResponse"));
        const int key = e.value(2).toInt();
        QVERIFY2(!done.contains(key), "two completions for one key");
        done.insert(key);
        QCOMPARE(e.value(1).toString(), "echo:" + sent.value(key));
    }
    QCOMPARE(done.size(), 200);
    QTRY_COMPARE(liveRequests(element), 0);
}

void ZelkoServiceHelperTest::cancelInFlight_data()
{
    QTest::addColumn<bool>("waitForServer");
    QTest::newRow("before it reaches the wire") << false;
    QTest::newRow("while the server stalls") << true;
}

void ZelkoServiceHelperTest::cancelInFlight()
{
    QFETCH(bool, waitForServer);
    MiniHttpServer server;
    server.setResponder([](QTcpSocket *, const ReceivedRequest &) {});
    ZelkoServiceHelper element;
    Recorder rec(&element);
    const int key = element.requestHttps(QStringLiteral("stall"), server.url());
    if (waitForServer)
        QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 1, 20000);
    element.cancel(key);
    QVERIFY(rec.waitFor(1));
    QTRY_COMPARE(liveRequests(element), 0);
    QCOMPARE(rec.events, (QList<QVariantList>{{"error", 3, key}}));

    // The element stays usable after a cancellation.
    server.setCannedResponse(MiniHttpServer::response("after"));
    const int next = element.requestHttps(QStringLiteral("again"), server.url());
    QVERIFY(rec.waitFor(2));
    QCOMPARE(rec.events.last(), (QVariantList{"sslResponse", "after", next}));
}

void ZelkoServiceHelperTest::cancelAfterCompletion()
{
    MiniHttpServer server;
    ZelkoServiceHelper element;
    Recorder rec(&element);
    element.cancel(0);
    // Inside the handler the key is still live, its reply already complete.
    connect(&element, &ZelkoServiceHelper::sslResponse, &element,
            [&element](const QString &, int key) { element.cancel(key); });
    const int key = element.requestHttps(QStringLiteral("x"), server.url());
    QVERIFY(rec.waitFor(1));
    QTRY_COMPARE(liveRequests(element), 0);
    element.cancel(key);
    element.cancel(key + 1000);
    QCoreApplication::processEvents();
    QCOMPARE(rec.events, (QList<QVariantList>{{"sslResponse", "ok", key}}));
}

static QStringList s_replyLines;
static QtMessageHandler s_previous = nullptr;
static void collectReplyLines(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.startsWith(QLatin1String("delete reply:")))
        s_replyLines.append(text);
    else
        s_previous(type, context, text);
}

void ZelkoServiceHelperTest::shutdownWithRequestsInFlight()
{
    MiniHttpServer server;
    server.setResponder([](QTcpSocket *, const ReceivedRequest &) {});
    auto *element = new ZelkoServiceHelper;
    Recorder rec(element);
    for (int i = 0; i < 5; ++i)
        element->requestHttps(QStringLiteral("pending"), server.url());
    QTRY_VERIFY_WITH_TIMEOUT(server.requests.size() >= 1, 20000);

    // Shutdown order: the singletons (and the manager) go first, the elements after.
    // The replies are released silently, but each request still says it goes.
    s_replyLines.clear();
    s_previous = qInstallMessageHandler(collectReplyLines);
    ZelkoQtRoot::destroy();
    QCOMPARE(s_replyLines.size(), 0);
    QCOMPARE(liveRequests(*element), 5);
    delete element;
    QCoreApplication::processEvents();
    qInstallMessageHandler(s_previous);
    QVERIFY(rec.events.isEmpty());
    QCOMPARE(s_replyLines.size(), 5);
    for (const QString &line : qAsConst(s_replyLines))
        QVERIFY2(QRegularExpression(QStringLiteral("^delete reply: QNetworkReply\\w*\\(0x[0-9a-f]+\\)$"))
                     .match(line)
                     .hasMatch(),
                 qPrintable(line));
    QCOMPARE(QSet<QString>(s_replyLines.begin(), s_replyLines.end()).size(), 5);

    // A transport made again afterwards works.
    ZelkoServiceHelper again;
    Recorder rec2(&again);
    server.setCannedResponse(MiniHttpServer::response("back"));
    const int key = again.requestHttps(QString(), server.url());
    QVERIFY(rec2.waitFor(1));
    QCOMPARE(rec2.events.first(), (QVariantList{"sslResponse", "back", key}));
}

void ZelkoServiceHelperTest::urlEncode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("space") << "a b"
                           << "a%20b";
    QTest::newRow("ampersand and equals") << "a&b=c"
                                          << "a%26b%3Dc";
    QTest::newRow("unreserved kept") << "AZaz09-._~"
                                     << "AZaz09-._~";
    QTest::newRow("e acute is utf-8") << QStringLiteral("\u00e9") << "%C3%A9";
    QTest::newRow("reserved characters") << "/?#[]@!$'()*+,;%"
                                         << "%2F%3F%23%5B%5D%40%21%24%27%28%29%2A%2B%2C%3B%25";
    QTest::newRow("astral") << QStringLiteral("\U0001F600") << "%F0%9F%98%80";
    QTest::newRow("empty") << ""
                           << "";
}

void ZelkoServiceHelperTest::urlEncode()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    ZelkoServiceHelper element;
    QCOMPARE(element.urlEncode(text), expected);
}

void ZelkoServiceHelperTest::signingForwards()
{
    // Expected values computed independently (see zelkoencrypttest).
    ZelkoServiceHelper element;
    QCOMPARE(element.getKey().size(), 80);
    QCOMPARE(element.getEncryptString(QStringLiteral("abc")).size(), 32);
    QCOMPARE(element.getEncryptParam(QString(), QStringLiteral("k")), QStringLiteral("00000000"));
    QCOMPARE(element.getEncryptParam(QStringLiteral("a"), QStringLiteral("k")).size(), 10);
}

QTEST_GUILESS_MAIN(ZelkoServiceHelperTest)
#include "zelkoservicehelpertest.moc"
