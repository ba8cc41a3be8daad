#include "fakereply.h"
#include "httphelper.h"
#include "logcapture.h"
#include "minihttpserver.h"
#include "onerequest.h"
#include "zelkoqtroot.h"

#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QtTest>

#include <functional>

class OneRequestTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void errorMapping_data();
    void errorMapping();
    void unusableUrl_data();
    void unusableUrl();
    void redirectNotFollowed_data();
    void redirectNotFollowed();
    void bodies_data();
    void bodies();
    void cancelInFlight();
    void cancelAfterOutcome();
    void destructionReleasesReply();
    void keysAreLiveAndUnique();
};

namespace {

// Connected by the signature texts receivers use: a signal renamed or retyped leaves the
// spy invalid, and the outcome unseen.
struct Outcome
{
    QSignalSpy finished;
    QSignalSpy error;
    explicit Outcome(OneRequest *r)
        : finished(r, SIGNAL(finished(QByteArray, OneRequest *)))
        , error(r, SIGNAL(error(OneRequest::ErrorType, OneRequest *)))
    {
    }
    bool valid() const { return finished.isValid() && error.isValid(); }
    int total() const { return finished.count() + error.count(); }
    int errorType() const { return error.isEmpty() ? 0 : error.first().first().toInt(); }
};

// The debug lines written while `run` runs, instead of printed.
QStringList debugLinesOf(const std::function<void()> &run)
{
    LogCapture capture;
    run();
    return capture.debugLines;
}

// Lets everything already queued run, so that a late second outcome would be seen.
bool drainEvents()
{
    bool drained = false;
    QTimer::singleShot(0, [&drained] { drained = true; });
    return QTest::qWaitFor([&drained] { return drained; }, 5000);
}

} // namespace

void OneRequestTest::initTestCase()
{
    qRegisterMetaType<OneRequest::ErrorType>();
    qRegisterMetaType<OneRequest *>();
    qRegisterMetaType<QNetworkReply *>();
}

void OneRequestTest::cleanupTestCase()
{
    ZelkoQtRoot::destroy();
}

void OneRequestTest::errorMapping_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("alone"); // the reply's error signal alone, before any finished()
    QTest::addColumn<int>("expected");
    const QMetaEnum codes = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    auto row = [&](int code, int expected) {
        for (bool alone : {false, true})
            QTest::addRow("%s%s", codes.valueToKey(code), alone ? ", error signal alone" : "")
                << code << alone << expected;
    };
    row(0, 0); // NoError: nothing is emitted
    row(1, 2); // ConnectionRefusedError
    row(2, 2); // RemoteHostClosedError
    row(3, 2); // HostNotFoundError
    row(4, 1); // TimeoutError
    row(5, 3); // OperationCanceledError
    // Every value above 5 the network layer defines, so a new or forgotten one cannot slip through.
    for (int i = 0; i < codes.keyCount(); ++i)
        if (codes.value(i) > 5)
            row(codes.value(i), 5);
}

void OneRequestTest::errorMapping()
{
    QFETCH(int, code);
    QFETCH(bool, alone);
    QFETCH(int, expected);
    QObject owner;
    auto *reply = new FakeReply;
    auto *request = new OneRequest(reply, &owner);
    Outcome outcome(request);
    QVERIFY(outcome.valid());
    const QStringList lines = debugLinesOf([&] {
        if (alone)
            emit reply->errorOccurred(QNetworkReply::NetworkError(code));
        else
            reply->complete(QNetworkReply::NetworkError(code), "body");
    });
    // Every error the reply reports is logged once, NoError too.
    QCOMPARE(lines, code != 0 || alone ? QStringList{QStringLiteral("Net ERROR CODE: %1").arg(code)}
                                       : QStringList());
    if (expected == 0) {
        // No failure: only a complete reply ends the request, its body deciding.
        QCOMPARE(outcome.error.count(), 0);
        QCOMPARE(outcome.finished.count(), alone ? 0 : 1);
    } else {
        QCOMPARE(outcome.total(), 1);
        QCOMPARE(outcome.errorType(), expected);
        QCOMPARE(outcome.error.first().at(1).value<OneRequest *>(), request);
    }
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^delete reply:"));
}

void OneRequestTest::unusableUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("networkCode"); // what Qt 5.15 reports for it
    QTest::addColumn<int>("expected");
    const int unknownProtocol = QNetworkReply::ProtocolUnknownError;
    const int hostNotFound = QNetworkReply::HostNotFoundError;
    QTest::newRow("unknown scheme") << "foo://bar/x" << unknownProtocol << int(OneRequest::OtherError);
    QTest::newRow("empty") << "" << unknownProtocol << int(OneRequest::OtherError);
    QTest::newRow("no scheme") << "just words" << unknownProtocol << int(OneRequest::OtherError);
    QTest::newRow("file, which takes no post")
        << "file:///nonexistent/x" << unknownProtocol << int(OneRequest::OtherError);
    // Qt looks up the empty host name and fails without asking any resolver: Error, not OtherError.
    QTest::newRow("http without host") << "http://" << hostNotFound << int(OneRequest::Error);
    QTest::newRow("http, path without host") << "http:///x" << hostNotFound << int(OneRequest::Error);
    // Invalid URLs go nowhere: Qt would send them to what is left (port 80 for the first).
    QTest::newRow("port out of range")
        << "http://127.0.0.1:99999/x" << unknownProtocol << int(OneRequest::OtherError);
    QTest::newRow("unclosed IPv6 host") << "http://[::1/x" << unknownProtocol << int(OneRequest::OtherError);
}

void OneRequestTest::unusableUrl()
{
    // The caller connects to the request only after post() returns: an outcome during the call
    // would be lost, and the element would wait for ever.
    QFETCH(QString, url);
    QFETCH(int, networkCode);
    QFETCH(int, expected);
    QObject owner;
    HttpHelper *http = HttpHelper::getInstance();
    auto *manager = http->findChild<QNetworkAccessManager *>();
    QVERIFY(manager);
    QSignalSpy managerFinished(manager, &QNetworkAccessManager::finished);
    const QString text = QStringLiteral("q");
    OneRequest *request = nullptr;
    const QStringList during = debugLinesOf([&] { request = http->post(url, &text, &owner); });
    QVERIFY(request);
    QCOMPARE(during, QStringList());
    QCOMPARE(managerFinished.count(), 0);
    auto *reply = request->findChild<QNetworkReply *>();
    QVERIFY(reply);
    QVERIFY(!reply->isFinished());

    Outcome outcome(request);
    bool arrived = false;
    const QStringList after = debugLinesOf(
        [&] { arrived = QTest::qWaitFor([&] { return outcome.total() > 0; }, 10000) && drainEvents(); });
    QVERIFY(arrived);
    QCOMPARE(outcome.total(), 1);
    QCOMPARE(outcome.errorType(), expected);
    QCOMPARE(after, QStringList{QStringLiteral("Net ERROR CODE: %1").arg(networkCode)});
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^delete reply:"));
}

void OneRequestTest::redirectNotFollowed_data()
{
    QTest::addColumn<QByteArray>("statusLine");
    QTest::newRow("301") << QByteArray("HTTP/1.1 301 Moved Permanently");
    QTest::newRow("302") << QByteArray("HTTP/1.1 302 Found");
    QTest::newRow("303") << QByteArray("HTTP/1.1 303 See Other");
    QTest::newRow("307") << QByteArray("HTTP/1.1 307 Temporary Redirect");
    QTest::newRow("308") << QByteArray("HTTP/1.1 308 Permanent Redirect");
}

void OneRequestTest::redirectNotFollowed()
{
    // The service answers at one address; a redirect's own body is the outcome, and the query
    // goes nowhere else.
    QFETCH(QByteArray, statusLine);
    MiniHttpServer elsewhere;
    elsewhere.setCannedResponse(MiniHttpServer::response("from elsewhere"));
    MiniHttpServer origin;
    QVERIFY(origin.isListening() && elsewhere.isListening());
    const QByteArray moved("moved");
    origin.setCannedResponse(statusLine + "\r\nLocation: " + elsewhere.url().toLatin1()
                             + "\r\nContent-Length: " + QByteArray::number(moved.size()) + "\r\n\r\n"
                             + moved);
    QObject owner;
    const QString text = QStringLiteral("q");
    OneRequest *request = HttpHelper::getInstance()->post(origin.url(), &text, &owner);
    Outcome outcome(request);
    QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, 10000);
    QCOMPARE(outcome.error.count(), 0);
    QCOMPARE(outcome.finished.first().first().toByteArray(), moved);
    QVERIFY(drainEvents());
    QCOMPARE(outcome.total(), 1);
    QCOMPARE(origin.requests.size(), 1);
    QCOMPARE(elsewhere.requests.size(), 0);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^delete reply:"));
}

void OneRequestTest::bodies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("binary with zeros") << QByteArray("\0\1\2\0", 4);
    QTest::newRow("empty") << QByteArray();
}

void OneRequestTest::bodies()
{
    QFETCH(QByteArray, body);
    QObject owner;
    auto *reply = new FakeReply;
    auto *request = new OneRequest(reply, &owner);
    Outcome outcome(request);
    reply->complete(QNetworkReply::NoError, body);
    QCOMPARE(outcome.total(), 1);
    if (body.isEmpty()) {
        QCOMPARE(outcome.errorType(), int(OneRequest::DataError));
    } else {
        QCOMPARE(outcome.finished.first().first().toByteArray(), body);
        QCOMPARE(outcome.finished.first().at(1).value<OneRequest *>(), request);
    }
}

void OneRequestTest::cancelInFlight()
{
    QObject owner;
    auto *reply = new FakeReply;
    auto *request = new OneRequest(reply, &owner);
    Outcome outcome(request);
    QTest::ignoreMessage(QtDebugMsg, "Net ERROR CODE: 5");
    request->cancelReply();
    QCOMPARE(outcome.total(), 1);
    QCOMPARE(outcome.errorType(), int(OneRequest::Canceled));
    request->cancelReply();
    QCOMPARE(outcome.total(), 1);
}

void OneRequestTest::cancelAfterOutcome()
{
    QObject owner;
    auto *reply = new FakeReply;
    auto *request = new OneRequest(reply, &owner);
    Outcome outcome(request);
    reply->complete(QNetworkReply::NoError, "done");
    request->cancelReply();
    QCOMPARE(outcome.total(), 1);
    QCOMPARE(outcome.finished.count(), 1);
}

void OneRequestTest::destructionReleasesReply()
{
    auto *reply = new FakeReply;
    QPointer<QNetworkReply> watch(reply);
    auto *request = new OneRequest(reply, nullptr);
    QCOMPARE(reply->parent(), request);
    Outcome outcome(request);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^delete reply: FakeReply\\(0x[0-9a-f]+\\)$"));
    delete request;
    QVERIFY(watch.isNull());
}

void OneRequestTest::keysAreLiveAndUnique()
{
    QObject owner;
    QSet<int> keys;
    QList<OneRequest *> requests;
    for (int i = 0; i < 50; ++i) {
        auto *request = new OneRequest(new FakeReply, &owner);
        QVERIFY(request->key() != 0);
        QVERIFY(!keys.contains(request->key()));
        QCOMPARE(OneRequest::fromKey(request->key()), request);
        keys.insert(request->key());
        requests.append(request);
    }
    const int dead = requests.first()->key();
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^delete reply:"));
    delete requests.takeFirst();
    QCOMPARE(OneRequest::fromKey(dead), nullptr);
    QCOMPARE(OneRequest::fromKey(0), nullptr);
}

QTEST_GUILESS_MAIN(OneRequestTest)
#include "onerequesttest.moc"
