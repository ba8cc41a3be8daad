#include "framewriter.h"
#include "httphelper.h"
#include "logcapture.h"
#include "minihttpserver.h"
#include "onerequest.h"
#include "resourcesmap.h"
#include "zelkoqtroot.h"
#include "signalrecorder.h"
#include "zelkoservicehelper.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QTcpSocket>
#include <QtTest>

// The Request element over real loopback sockets: one outcome per request, by key.
class ZelkoServiceHelperTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();
    void finishedAccounts_data();
    void finishedAccounts();
    void setterWarnings_data();
    void setterWarnings();
    void noSecondErrorFromQt();
    void hostNotFound();
    void serviceRoadPostsTheText_data();
    void serviceRoadPostsTheText();
    void manyInFlight();
    void cancelAfterCompletion();
    void timeLimit_data();
    void timeLimit();
    void peerChecks_data();
    void peerChecks();
    void shutdownWithRequestsInFlight();
    void urlEncode_data();
    void urlEncode();
    void signingForwards();
    void resourceBlockFromBuffer_data();
    void resourceBlockFromBuffer();
};

using Entries = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Entries)

void ZelkoServiceHelperTest::init()
{
    qRegisterMetaType<OneRequest::ErrorType>();
}

void ZelkoServiceHelperTest::cleanupTestCase()
{
    ZelkoQtRoot::destroy();
}

void ZelkoServiceHelperTest::finishedAccounts_data()
{
    QTest::addColumn<bool>("serviceRoad");
    QTest::addColumn<QByteArray>("answer"); // raw HTTP; "" stalls, "-" leaves nobody listening
    QTest::addColumn<QString>("setup");     // "timeout", "cancel", "cancel now", "close", "pin", "bad pin"
    QTest::addColumn<QString>("signalled"); // before finished(), by name and code
    QTest::addColumn<QString>("outcome");   // ok code serviceError type httpStatus
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("message"); // %1: the address posted to, %2: its /elsewhere

    const QByteArray ok = MiniHttpServer::response(FrameWriter::answer(1, "{}", {}));
    const QString answered = "%1 answered (HTTP 200).";
    const auto row = [](const char *name, bool serviceRoad, const QByteArray &answer, const char *setup,
                        const char *signalled, const char *outcome, const QString &json,
                        const QString &message) {
        QTest::newRow(name) << serviceRoad << answer << setup << signalled << outcome << json << message;
    };
    row("answer", true, ok, "", "response", "true 0 0 1 200", "{}", answered);
    row("refused", true, MiniHttpServer::response(FrameWriter::serviceError(1, 7)), "", "error 2,response",
        "false 0 7 1 200", "", "%1 refused the query with service error 7 (HTTP 200).");
    row("refused, a named error", true, MiniHttpServer::response(FrameWriter::serviceError(1, 2)), "",
        "error 2,response", "false 0 2 1 200", "",
        "%1 refused the query with service error 2, bad signature (HTTP 200).");
    row("redirect", true, "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n", "",
        "error 4", "false 4 0 0 302", "",
        "The request to %1 failed: it redirects to %2, and requests follow no redirect (HTTP 302).");
    row("redirect with a page", true,
        "HTTP/1.1 301 Moved\r\nLocation: http://a.example/\r\nContent-Length: 5\r\n\r\nmoved", "", "error 2",
        "false 2 0 0 301", "",
        "The answer from %1 redirects to http://a.example/, and requests follow no redirect (HTTP 301).");
    row("not a frame", true, MiniHttpServer::response("this is no frame"), "", "error 2,response",
        "false 2 0 0 200", "", "The answer from %1 could not be decoded: Data head invalid (HTTP 200).");
    row("under 10 bytes", true, MiniHttpServer::response("short"), "", "error 2", "false 2 0 0 200", "",
        "The answer from %1 could not be decoded: Buffer size is too short (HTTP 200).");
    row("empty body", true, MiniHttpServer::response(""), "", "error 4", "false 4 0 0 200", "",
        "The request to %1 failed: the answer has an empty body (HTTP 200).");
    row("http 404", true, "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!", "", "error 5",
        "false 5 0 0 404", "", "The request to %1 failed: HTTP 404 Not Found.");
    row("unreachable", true, "-", "", "error 2", "false 2 0 0 0", "",
        "The request to %1 failed: Connection refused.");
    row("closed in the middle of the answer", false,
        "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", "close", "error 2", "false 2 0 0 200", "",
        "The request to %1 failed: Connection closed (HTTP 200).");
    row("text", false, MiniHttpServer::response("ok"), "", "sslResponse", "true 0 0 0 200", "ok", answered);
    // Every byte is text, a zero byte too: QML gets all twelve characters.
    const QByteArray withZero("{\"a\":1}\0tail", 12);
    row("text with a zero byte inside", false, MiniHttpServer::response(withZero), "", "sslResponse",
        "true 0 0 0 200", QString::fromUtf8(withZero.constData(), 12), answered);
    row("text with a zero byte first", false, MiniHttpServer::response(QByteArray("\0{}", 3)), "",
        "sslResponse", "true 0 0 0 200", QString(QChar(0)) + QStringLiteral("{}"), answered);
    row("timeout", false, "", "timeout", "error 1", "false 1 0 0 0", "",
        "The request to %1 failed: no answer within 200 ms.");
    row("cancelled while the server stalls", true, "", "cancel", "error 3", "false 3 0 0 0", "",
        "The request to %1 failed: cancelled.");
    row("cancelled before it reaches the wire", false, "", "cancel now", "error 3", "false 3 0 0 0", "",
        "The request to %1 failed: cancelled.");
    const QString mismatch = "The request to %1 failed: the server's certificate does not match the pin.";
    row("pin mismatch", false, ok, "pin", "error 5", "false 5 0 0 0", "", mismatch);
    row("pin names nothing", false, ok, "bad pin", "error 5", "false 5 0 0 0", "", mismatch);
}

// The one account each request ends with, after whatever the element signalled.
void ZelkoServiceHelperTest::finishedAccounts()
{
    QFETCH(bool, serviceRoad);
    QFETCH(QByteArray, answer);
    QFETCH(QString, setup);
    QFETCH(QString, signalled);
    QFETCH(QString, outcome);
    QFETCH(QString, json);
    QFETCH(QString, message);
    MiniHttpServer server(setup.contains(QLatin1String("pin")));
    if (answer == "-")
        server.close();
    else if (answer.isEmpty())
        server.setResponder([](QTcpSocket *, const ReceivedRequest &) {});
    else
        server.setCannedResponse(answer, setup == QLatin1String("close"));
    ZelkoServiceHelper element;
    if (setup == QLatin1String("timeout"))
        element.setTimeout(200);
    if (setup == QLatin1String("pin"))
        element.setPinnedCertificate(QString(64, QLatin1Char('a')));
    if (setup == QLatin1String("bad pin")) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("pinnedCertificate")));
        element.setPinnedCertificate(QStringLiteral("sha256/abc"));
    }
    // The service road goes where the element's url says.
    element.setUrl(server.url());
    SignalRecorder rec(&element);
    const int key =
        serviceRoad ? element.request(QStringLiteral("q")) : element.requestHttps("q", server.url());
    if (setup.startsWith(QLatin1String("cancel"))) {
        if (setup == QLatin1String("cancel"))
            QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 1, 20000);
        element.cancel(key);
        QCOMPARE(rec.ends.size(), 1); // within cancel()
    }
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends.size(), 1, 20000);
    QTRY_COMPARE(requestsHeldBy(element), 0);
    QVERIFY(rec.eachEndedOnce());
    QStringList names;
    for (const QVariantList &e : qAsConst(rec.events)) {
        names << (e.first() == "error" ? "error " + e.value(1).toString() : e.first().toString());
        if (e.first() == "sslResponse")
            QCOMPARE(e.value(1).toString(), json);
    }
    QCOMPARE(names.join(QLatin1Char(',')), signalled);
    const QVariantMap end = rec.ends.first().second;
    QCOMPARE(rec.ends.first().first, key);
    QStringList fields;
    for (const char *field : {"ok", "code", "serviceError", "type", "httpStatus"})
        fields << end[QLatin1String(field)].toString();
    QCOMPARE(fields.join(QLatin1Char(' ')), outcome);
    QCOMPARE(end["json"].toString(), json);
    QCOMPARE(end["message"].toString(),
             QString(message)
                 .replace(QLatin1String("%2"), server.url(QStringLiteral("/elsewhere")))
                 .arg(server.url()));
}

void ZelkoServiceHelperTest::setterWarnings_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("stored"); // what the property reads afterwards
    QTest::addColumn<QString>("warning"); // part of it; empty: none
    QTest::newRow("timeout 250") << QByteArray("timeout") << QVariant(250) << QVariant(250) << "";
    QTest::newRow("negative timeout refused")
        << QByteArray("timeout") << QVariant(-1) << QVariant(0) << "timeout -1 refused";
    QTest::newRow("url over https") << QByteArray("url") << QVariant("https://example.org/s")
                                    << QVariant("https://example.org/s") << "";
    QTest::newRow("url without a scheme")
        << QByteArray("url") << QVariant("localhost:8080/search") << QVariant("localhost:8080/search")
        << "is not an http or https address";
    QTest::newRow("url of a file") << QByteArray("url") << QVariant("file:///tmp/x")
                                   << QVariant("file:///tmp/x") << "is not an http or https address";
    QTest::newRow("pin file") << QByteArray("pinnedCertificate") << QVariant(ZELKO_TEST_DATA "/server.crt")
                              << QVariant(ZELKO_TEST_DATA "/server.crt") << "";
    // Kept: a pin that names nothing refuses every server rather than none.
    QTest::newRow("missing pin file")
        << QByteArray("pinnedCertificate") << QVariant("/nonexistent/pin.pem")
        << QVariant("/nonexistent/pin.pem") << "requestHttps will refuse every server";
    QTest::newRow("pin of another form") << QByteArray("pinnedCertificate") << QVariant("sha256/abc")
                                         << QVariant("sha256/abc") << "requestHttps will refuse every server";
}

void ZelkoServiceHelperTest::setterWarnings()
{
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    QFETCH(QVariant, stored);
    QFETCH(QString, warning);
    ZelkoServiceHelper element;
    LogCapture log;
    QVERIFY(element.setProperty(property.constData(), value));
    QCOMPARE(element.property(property.constData()), stored);
    QCOMPARE(log.otherLines.size(), warning.isEmpty() ? 0 : 1);
    if (!warning.isEmpty())
        QVERIFY2(log.otherLines.first().contains(warning), qPrintable(log.otherLines.first()));
}

// A request whose error arrives before its reply finishes, released in between: Qt
// warns "Internal problem, this method must only be called once" when the reply is
// then closed or aborted.
void ZelkoServiceHelperTest::noSecondErrorFromQt()
{
    MiniHttpServer server;
    server.setResponder([](QTcpSocket *socket, const ReceivedRequest &) { socket->abort(); });
    ZelkoServiceHelper element;
    SignalRecorder rec(&element);
    // A handler that cancels its own request once it has failed.
    connect(&element, &ZelkoServiceHelper::error, &element,
            [&element](int, int key) { element.cancel(key); });
    LogCapture log;
    for (int i = 0; i < 3; ++i)
        element.requestHttps(QStringLiteral("x"), server.url());
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends.size(), 3, 20000);
    QTRY_COMPARE(requestsHeldBy(element), 0);
    QCoreApplication::processEvents();
    QVERIFY(rec.eachEndedOnce());
    QCOMPARE(log.otherLines, QStringList());
}

void ZelkoServiceHelperTest::hostNotFound()
{
    ZelkoServiceHelper element;
    SignalRecorder rec(&element);
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
    SignalRecorder rec(&element);
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
    SignalRecorder rec(&element);
    QHash<int, QString> sent;
    for (int i = 0; i < 200; ++i) {
        const QString body = QStringLiteral("q%1").arg(i);
        const int key = element.requestHttps(body, server.url());
        QVERIFY(key != 0);
        QVERIFY2(!sent.contains(key), "key reused while live");
        sent.insert(key, body);
    }
    QVERIFY(rec.waitFor(200, 60000));
    QTRY_VERIFY(rec.eachEndedOnce());
    QSet<int> done;
    for (const QVariantList &e : rec.events) {
        QCOMPARE(e.value(0).toString(), QStringLiteral("sslResponse"));
        const int key = e.value(2).toInt();
        QVERIFY2(!done.contains(key), "two completions for one key");
        done.insert(key);
        QCOMPARE(e.value(1).toString(), "echo:" + sent.value(key));
    }
    QCOMPARE(done.size(), 200);
    QTRY_COMPARE(requestsHeldBy(element), 0);
}

void ZelkoServiceHelperTest::timeLimit_data()
{
    QTest::addColumn<bool>("serviceRoad");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<QVariantList>("expected"); // without the key
    QTest::newRow("stalled text post ends in TimeOut") << false << false << 200 << QVariantList{"error", 1};
    QTest::newRow("stalled service query ends in TimeOut")
        << true << false << 200 << QVariantList{"error", 1};
    // 5% early is 100 ms here.
    QTest::newRow("two seconds are two seconds") << false << false << 2000 << QVariantList{"error", 1};
    QTest::newRow("an answer in time is kept") << false << true << 5000 << QVariantList{"sslResponse", "ok"};
    // 0 is the default: no limit of ours, the request waits for the network.
    QTest::newRow("0 sets no limit") << false << true << 0 << QVariantList{"sslResponse", "ok"};
}

void ZelkoServiceHelperTest::timeLimit()
{
    QFETCH(bool, serviceRoad);
    QFETCH(bool, answers);
    QFETCH(int, timeout);
    QFETCH(QVariantList, expected);
    QScopedPointer<MiniHttpServer> server(serviceRoad ? MiniHttpServer::asService() : new MiniHttpServer);
    if (!answers)
        server->setResponder([](QTcpSocket *, const ReceivedRequest &) {});
    ZelkoServiceHelper element;
    QCOMPARE(element.timeout(), 0);
    element.setTimeout(timeout);
    SignalRecorder rec(&element);
    QElapsedTimer clock;
    clock.start();
    const int key =
        serviceRoad ? element.request(QStringLiteral("q")) : element.requestHttps("q", server->url());
    QVERIFY(rec.waitFor(1, 20000));
    // Never early: a coarse timer may fire 5% before its time.
    if (expected.first() == "error")
        QVERIFY2(clock.elapsed() >= timeout, qPrintable(QString::number(clock.elapsed())));
    // The time limit goes with its request: once that is released nothing can follow.
    QTRY_COMPARE(requestsHeldBy(element), 0);
    QCoreApplication::processEvents();
    expected.append(key);
    QCOMPARE(rec.events, QList<QVariantList>{expected});
    QVERIFY(rec.eachEndedOnce());
}

void ZelkoServiceHelperTest::peerChecks_data()
{
    QTest::addColumn<QString>("before"); // an earlier request's pin, from another element; "-": none
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QString>("pin");
    QTest::addColumn<QVariantList>("expected"); // without the key
    const QString cert = QStringLiteral(ZELKO_TEST_DATA "/server.crt");
    QFile file(cert);
    file.open(QIODevice::ReadOnly);
    const QByteArray digest = QSslCertificate(&file).digest(QCryptographicHash::Sha256);
    const QVariantList answered{"sslResponse", "ok"};
    const QVariantList refused{"error", 5};
    QTest::newRow("described default: any certificate") << "-" << false << QString() << answered;
    QTest::newRow("verified: self-signed refused") << "-" << true << QString() << refused;
    QTest::newRow("pinned by PEM file") << "-" << false << cert << answered;
    QTest::newRow("pinned by file: URL") << "-" << false << QUrl::fromLocalFile(cert).toString() << answered;
    QTest::newRow("pinned by fingerprint with colons")
        << "-" << false << QString::fromLatin1(digest.toHex(':')) << answered;
    QTest::newRow("pinned by fingerprint, upper case")
        << "-" << false << QString::fromLatin1(digest.toHex()).toUpper() << answered;
    QTest::newRow("pin wins over verification") << "-" << true << cert << answered;
    QByteArray other = digest;
    other[0] = char(other[0] ^ 1);
    QTest::newRow("another fingerprint") << "-" << false << QString::fromLatin1(other.toHex()) << refused;
    QTest::newRow("unreadable pin file takes none")
        << "-" << false << QStringLiteral("/nonexistent/pin.pem") << refused;
    QTest::newRow("not a certificate takes none")
        << "-" << false << QStringLiteral(ZELKO_TEST_DATA "/dpkg-status") << refused;
    // The network layer keeps connections and TLS sessions for reuse, and does not verify a
    // resumed session again: each check keeps connections of its own.
    QTest::newRow("unverified, then verified") << QString() << true << QString() << refused;
    QTest::newRow("pinned, then verified") << cert << true << QString() << refused;
    QTest::newRow("pinned, then another pin") << cert << false << QString(64, QLatin1Char('a')) << refused;
}

void ZelkoServiceHelperTest::peerChecks()
{
    QFETCH(QString, before);
    QFETCH(bool, verify);
    QFETCH(QString, pin);
    QFETCH(QVariantList, expected);
    MiniHttpServer server(true);
    server.setCannedResponse(MiniHttpServer::response("ok"));
    if (before != QLatin1String("-")) {
        ZelkoServiceHelper first;
        first.setPinnedCertificate(before);
        SignalRecorder accepted(&first);
        const int firstKey = first.requestHttps(QStringLiteral("q"), server.url());
        QVERIFY(accepted.waitFor(1));
        QCOMPARE(accepted.events.first(), (QVariantList{"sslResponse", "ok", firstKey}));
    }
    const int earlier = server.requests.size();
    ZelkoServiceHelper element;
    element.setVerifyPeer(verify);
    element.setPinnedCertificate(pin);
    SignalRecorder rec(&element);
    const int key = element.requestHttps(QStringLiteral("q"), server.url());
    QVERIFY(rec.waitFor(1));
    QTRY_COMPARE(requestsHeldBy(element), 0);
    expected.append(key);
    QCOMPARE(rec.events, QList<QVariantList>{expected});
    // A refused peer never sees the text.
    if (expected.first() == "error")
        QCOMPARE(server.requests.size(), earlier);
}

void ZelkoServiceHelperTest::cancelAfterCompletion()
{
    MiniHttpServer server;
    ZelkoServiceHelper element;
    SignalRecorder rec(&element);
    element.cancel(0);
    // Inside the handler the key is still live, its reply already complete.
    connect(&element, &ZelkoServiceHelper::sslResponse, &element,
            [&element](const QString &, int key) { element.cancel(key); });
    const int key = element.requestHttps(QStringLiteral("x"), server.url());
    QVERIFY(rec.waitFor(1));
    QTRY_COMPARE(requestsHeldBy(element), 0);
    element.cancel(key);
    element.cancel(key + 1000);
    QCoreApplication::processEvents();
    QCOMPARE(rec.events, (QList<QVariantList>{{"sslResponse", "ok", key}}));

    // A cancellation leaves the element as usable as before.
    const int cancelled = element.requestHttps(QStringLiteral("y"), server.url());
    element.cancel(cancelled);
    server.setCannedResponse(MiniHttpServer::response("after"));
    const int next = element.requestHttps(QStringLiteral("z"), server.url());
    QVERIFY(rec.waitFor(3));
    QCOMPARE(rec.events.mid(1),
             (QList<QVariantList>{{"error", 3, cancelled}, {"sslResponse", "after", next}}));
}

void ZelkoServiceHelperTest::shutdownWithRequestsInFlight()
{
    MiniHttpServer server;
    server.setResponder([](QTcpSocket *, const ReceivedRequest &) {});
    auto *element = new ZelkoServiceHelper;
    SignalRecorder rec(element);
    for (int i = 0; i < 5; ++i)
        element->requestHttps(QStringLiteral("pending"), server.url());
    QTRY_VERIFY_WITH_TIMEOUT(server.requests.size() >= 1, 20000);

    // Shutdown order: the singletons (and the manager) go first, the elements after.
    // The replies are released silently, but each request still says it goes.
    QStringList replyLines;
    {
        LogCapture log;
        ZelkoQtRoot::destroy();
        QCOMPARE(log.debugLines.filter(QStringLiteral("delete reply:")).size(), 0);
        QCOMPARE(requestsHeldBy(*element), 5);
        delete element;
        QCoreApplication::processEvents();
        replyLines = log.debugLines.filter(QRegularExpression(QStringLiteral("^delete reply:")));
    }
    QVERIFY(rec.events.isEmpty());
    QCOMPARE(replyLines.size(), 5);
    for (const QString &line : qAsConst(replyLines))
        QVERIFY2(QRegularExpression(QStringLiteral("^delete reply: QNetworkReply\\w*\\(0x[0-9a-f]+\\)$"))
                     .match(line)
                     .hasMatch(),
                 qPrintable(line));
    QCOMPARE(QSet<QString>(replyLines.begin(), replyLines.end()).size(), 5);

    // A transport made again afterwards works.
    ZelkoServiceHelper again;
    SignalRecorder rec2(&again);
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

void ZelkoServiceHelperTest::resourceBlockFromBuffer_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<Entries>("stored");
    QTest::addColumn<int>("taken");

    using FrameWriter::le32;
    auto entry = [](const QByteArray &id, const QByteArray &data) {
        return FrameWriter::resourceEntry(FrameWriter::Resource{id, 1, data});
    };
    const QByteArray two = entry("b/one", "1") + entry("b/two", "22");
    QTest::newRow("two entries") << le32(4 + two.size()) + le32(2) + two + "next"
                                 << Entries{{"b/one", "1"}, {"b/two", "22"}} << 8 + two.size();
    QTest::newRow("empty block: its length only") << le32(0) + "next" << Entries() << 4;
    QTest::newRow("length 1: length and count") << le32(1) + le32(1) + "next" << Entries() << 8;
    QTest::newRow("shorter than a length") << QByteArray::fromHex("0500") << Entries() << 0;
    const QByteArray cut = entry("b/full", "1234") + entry("b/cut", "abcdefgh").left(14);
    QTest::newRow("block longer than the buffer")
        << le32(1000) + le32(2) + cut << Entries{{"b/full", "1234"}, {"b/cut", "abc"}} << 8 + cut.size();
}

void ZelkoServiceHelperTest::resourceBlockFromBuffer()
{
    // The QBuffer form of the block reader: what it stores, and where it leaves the buffer for
    // the field after the block.
    QFETCH(QByteArray, block);
    QFETCH(Entries, stored);
    QFETCH(int, taken);
    ZelkoQtRoot::destroy();
    QBuffer buffer(&block);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    ZelkoServiceHelper element;
    QVERIFY(QMetaObject::invokeMethod(&element, "parseResource", Qt::DirectConnection,
                                      Q_ARG(QBuffer *, &buffer)));
    QCOMPARE(buffer.pos(), qint64(taken));
    ResourcesMap *cache = ResourcesMap::getInstance();
    QCOMPARE(cache->count(), stored.size());
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        QCOMPARE(cache->data(it.key()), it.value());
}

QTEST_GUILESS_MAIN(ZelkoServiceHelperTest)
#include "zelkoservicehelpertest.moc"
