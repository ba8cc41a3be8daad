#include "httphelper.h"
#include "logcapture.h"
#include "minihttpserver.h"
#include "onerequest.h"
#include "zelkoqtroot.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QtTest>

// What the helper puts on the wire, seen from the server side.
class HttpHelperTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void oneInstanceOneLogLine();
    void bodies_data();
    void bodies();
    void noHeadersOfOurOwn();
    void ownership();
    void get();
    void tls_data();
    void tls();
    void tlsSpeaksHttp1();

private:
    std::optional<LogCapture> m_log;
};

// A request's one outcome, watched from before the event loop runs again: a reply that
// comes in while the test waits for another request must still be seen.
class Outcome
{
public:
    explicit Outcome(OneRequest *request)
        : m_finished(request, &OneRequest::finished)
        , m_error(request, &OneRequest::error)
    {
    }

    // Waits for it; returns the error type, 0 for finished, or -1 if none came.
    int wait(QByteArray *body = nullptr)
    {
        if (!QTest::qWaitFor([&] { return m_finished.count() + m_error.count() > 0; }, 20000))
            return -1;
        if (body && !m_finished.isEmpty())
            *body = m_finished.first().first().toByteArray();
        return m_error.isEmpty() ? 0 : m_error.first().first().toInt();
    }

private:
    QSignalSpy m_finished;
    QSignalSpy m_error;
};

void HttpHelperTest::initTestCase()
{
    m_log.emplace();
    qRegisterMetaType<OneRequest::ErrorType>();
}

void HttpHelperTest::cleanupTestCase()
{
    ZelkoQtRoot::destroy();
    m_log.reset();
}

void HttpHelperTest::oneInstanceOneLogLine()
{
    HttpHelper *first = HttpHelper::getInstance();
    QCOMPARE(HttpHelper::getInstance(), first);
    QCOMPARE(first->parent(), ZelkoQtRoot::getInstance());
    QCOMPARE(m_log->debugLines.count(QStringLiteral("call httpHelper")), 1);
}

void HttpHelperTest::bodies_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("ascii json") << QStringLiteral("{\"q\":\"weather\",\"page\":1}");
    QTest::newRow("latin-1 range") << QStringLiteral("café");
    QTest::newRow("cjk and astral") << QStringLiteral("北京 \U0001F600");
    QTest::newRow("nul inside") << QString::fromUtf8("a\0b", 3);
}

void HttpHelperTest::bodies()
{
    QFETCH(QString, text);
    MiniHttpServer server;
    OneRequest *request = HttpHelper::getInstance()->post(server.url(), &text);
    QCOMPARE(Outcome(request).wait(), 0);
    QCOMPARE(server.requests.size(), 1);
    QCOMPARE(server.requests[0].method, QByteArray("POST"));
    QCOMPARE(server.requests[0].path, QByteArray("/search"));
    QCOMPARE(server.requests[0].body, text.toUtf8());
    delete request;
}

void HttpHelperTest::noHeadersOfOurOwn()
{
    // The headers must be exactly those a bare network access manager sends.
    MiniHttpServer server;
    const QString text = QStringLiteral("query");
    OneRequest *request = HttpHelper::getInstance()->post(server.url(), &text);
    QCOMPARE(Outcome(request).wait(), 0);
    delete request;

    QNetworkAccessManager bare;
    QNetworkReply *reply = bare.post(QNetworkRequest(QUrl(server.url())), text.toUtf8());
    QSignalSpy done(reply, &QNetworkReply::finished);
    QVERIFY(done.wait(20000));
    delete reply;

    QCOMPARE(server.requests.size(), 2);
    auto names = [](const ReceivedRequest &r) {
        QList<QByteArray> list;
        for (const auto &h : r.headers)
            list.append(h.first.toLower() + ": " + h.second);
        std::sort(list.begin(), list.end());
        return list;
    };
    QCOMPARE(names(server.requests[0]), names(server.requests[1]));
}

void HttpHelperTest::ownership()
{
    MiniHttpServer server;
    const QString text = QStringLiteral("x");
    QObject owner;
    OneRequest *owned = HttpHelper::getInstance()->post(server.url(), &text, &owner);
    Outcome ownedOutcome(owned);
    OneRequest *orphan = HttpHelper::getInstance()->postSsl(server.url(), &text);
    Outcome orphanOutcome(orphan);
    QCOMPARE(owned->parent(), &owner);
    QCOMPARE(orphan->parent(), HttpHelper::getInstance());
    QVERIFY(owned->key() != orphan->key());
    // Both are in flight at once: the second may end while the first is waited for.
    QCOMPARE(ownedOutcome.wait(), 0);
    QCOMPARE(orphanOutcome.wait(), 0);
    delete orphan;
}

void HttpHelperTest::get()
{
    MiniHttpServer server;
    server.setCannedResponse(MiniHttpServer::response("got it"));
    OneRequest *request = HttpHelper::getInstance()->get(server.url(QStringLiteral("/file")));
    QByteArray body;
    QCOMPARE(Outcome(request).wait(&body), 0);
    QCOMPARE(body, QByteArray("got it"));
    QCOMPARE(server.requests.value(0).method, QByteArray("GET"));
    QCOMPARE(server.requests.value(0).path, QByteArray("/file"));
    delete request;
}

void HttpHelperTest::tls_data()
{
    QTest::addColumn<bool>("tlsServer");
    QTest::addColumn<bool>("queryPeer");
    QTest::addColumn<int>("expected");
    QTest::newRow("post to self-signed fails verification") << true << false << int(OneRequest::OtherError);
    QTest::newRow("postSsl to self-signed succeeds") << true << true << 0;
    QTest::newRow("postSsl to plain http posts plainly") << false << true << 0;
}

void HttpHelperTest::tls()
{
    QFETCH(bool, tlsServer);
    QFETCH(bool, queryPeer);
    QFETCH(int, expected);
    MiniHttpServer server(tlsServer);
    server.setCannedResponse(MiniHttpServer::response("{\"ok\":true}"));
    const QString text = QStringLiteral("{\"feedback\":\"é\"}");
    OneRequest *request = queryPeer ? HttpHelper::getInstance()->postSsl(server.url(), &text)
                                    : HttpHelper::getInstance()->post(server.url(), &text);
    QByteArray body;
    QCOMPARE(Outcome(request).wait(&body), expected);
    if (expected == 0) {
        QCOMPARE(body, QByteArray("{\"ok\":true}"));
        QCOMPARE(server.requests.value(0).body, text.toUtf8());
    } else {
        QVERIFY(m_log->debugLines.contains(QStringLiteral("Net ERROR CODE: 6")));
    }
    delete request;
}

void HttpHelperTest::tlsSpeaksHttp1()
{
    // The reference service speaks HTTP/1.1 only; Qt 6 would offer HTTP/2 to any TLS peer.
    MiniHttpServer server(true);
    server.setAlpnProtocols({QByteArrayLiteral("h2"), QByteArrayLiteral("http/1.1")});
    server.setCannedResponse(MiniHttpServer::response("{\"ok\":true}"));

    // A peer that prefers HTTP/2 gets it from a request that allows it: the check can see it.
    QNetworkAccessManager bare;
    QNetworkRequest allowing{QUrl(server.url())};
    allowing.setAttribute(QNetworkRequest::Http2AllowedAttribute, true);
    QSslConfiguration anyPeer = allowing.sslConfiguration();
    anyPeer.setPeerVerifyMode(QSslSocket::VerifyNone);
    allowing.setSslConfiguration(anyPeer);
    QNetworkReply *reply = bare.post(allowing, QByteArrayLiteral("x"));
    QVERIFY(QTest::qWaitFor([&] { return !server.negotiatedProtocols.isEmpty(); }, 20000));
    QCOMPARE(server.negotiatedProtocols.first(), QByteArray("h2"));
    reply->abort();
    delete reply;

    const QString text = QStringLiteral("{\"feedback\":1}");
    OneRequest *request = HttpHelper::getInstance()->postSsl(server.url(), &text);
    QByteArray body;
    QCOMPARE(Outcome(request).wait(&body), 0);
    QCOMPARE(body, QByteArray("{\"ok\":true}"));
    QCOMPARE(server.negotiatedProtocols.size(), 2);
    QVERIFY2(server.negotiatedProtocols.last() != "h2", server.negotiatedProtocols.last().constData());
    QCOMPARE(server.requests.last().method, QByteArray("POST"));
    delete request;
}

QTEST_GUILESS_MAIN(HttpHelperTest)
#include "httphelpertest.moc"
