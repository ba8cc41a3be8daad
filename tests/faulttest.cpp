#include "randombytes.h"
#include "framewriter.h"
#include "logcapture.h"
#include "minihttpserver.h"
#include "onerequest.h"
#include "zelkoqtroot.h"
#include "signalrecorder.h"
#include "zelkoservicehelper.h"

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

// Servers that misbehave on loopback, against the Request element: every request
// ends in exactly one outcome, and no OneRequest outlives it.
class FaultTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void brokenAnswers_data();
    void brokenAnswers();
    void stallThenCancel_data();
    void stallThenCancel();
    void thousandInFlight_data();
    void thousandInFlight();

private:
    QScopedPointer<MiniHttpServer> m_server;
    std::optional<LogCapture>
        m_log; // the decoder logs every bad frame and the transport every reply it drops
};

namespace {

// Roads a request can take: the service query (decoded as a frame) or the HTTPS text post.
enum Road {
    Service,
    Text
};

} // namespace

void FaultTest::initTestCase()
{
    m_log.emplace();
    qRegisterMetaType<OneRequest::ErrorType>();
    m_server.reset(MiniHttpServer::asService());
    QVERIFY(m_server->isListening());
}

void FaultTest::cleanupTestCase()
{
    ZelkoQtRoot::destroy();
    m_log.reset();
}

void FaultTest::brokenAnswers_data()
{
    QTest::addColumn<int>("road");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("closeAfter");
    // The one outcome: an error code, or 0 for an answer that reaches QML as text.
    QTest::addColumn<int>("errorCode");

    const QByteArray cutBody = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + QByteArray(100, 'b');
    const QByteArray badStatus = "HTTP/1.1 two hundred OK\r\nContent-Length: 2\r\n\r\nok";
    const QByteArray notHttp = "SSH-2.0-OpenSSH_9.2\r\n\r\n";
    const QByteArray cutChunks = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                 "10\r\n0123456789abcdef\r\n20\r\nonly part of it";
    const QByteArray badChunkSize =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nxx\r\n0\r\n\r\n";
    const QByteArray tenMiB = randomBytes(10 * 1024 * 1024, 7);
    const QByteArray bigGarbage = MiniHttpServer::response(tenMiB);
    QByteArray headedGarbage = tenMiB;
    // Passes the header checks, so the decoder reads lengths out of garbage.
    headedGarbage.replace(0, 10, QByteArray::fromHex("00000000010000000002"));
    const QByteArray bigHeadedGarbage = MiniHttpServer::response(headedGarbage);
    const QByteArray garbageForStatus = randomBytes(10 * 1024 * 1024, 11);

    for (int road : {Service, Text}) {
        const char *prefix = road == Service ? "service: " : "text: ";
        auto row = [&](const char *name, const QByteArray &answer, bool close, int code) {
            QTest::newRow(qPrintable(prefix + QString::fromLatin1(name))) << road << answer << close << code;
        };
        // The network layer retries a connection that answers no HTTP, then reports it closed.
        row("closed mid-body", cutBody, true, OneRequest::Error);
        row("malformed status line", badStatus, true, OneRequest::Error);
        row("not http at all", notHttp, true, OneRequest::Error);
        row("chunked cut short", cutChunks, true, OneRequest::Error);
        // Read as a last chunk: an empty body.
        row("chunk size not hex", badChunkSize, true, OneRequest::DataError);
        row("10 MiB of garbage instead of a status line", garbageForStatus, true, OneRequest::Error);
        // A frame that does not decode is an error for the service road, plain text for the other.
        row("10 MiB of garbage as the body", bigGarbage, false, road == Service ? int(OneRequest::Error) : 0);
        if (road == Service)
            row("10 MiB of garbage behind a valid header", bigHeadedGarbage, false, OneRequest::Error);
    }
}

void FaultTest::brokenAnswers()
{
    QFETCH(int, road);
    QFETCH(QByteArray, answer);
    QFETCH(bool, closeAfter);
    QFETCH(int, errorCode);
    m_server->setCannedResponse(answer, closeAfter);
    ZelkoServiceHelper element;
    SignalRecorder rec(&element);
    const int key = road == Service ? element.request(QStringLiteral("{\"q\":\"fault\"}"))
                                    : element.requestHttps(QStringLiteral("fault"), m_server->url());
    QVERIFY(key != 0);
    QTRY_VERIFY_WITH_TIMEOUT(!rec.events.isEmpty(), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(requestsHeldBy(element), 0, 20000);
    QCoreApplication::processEvents();
    QCOMPARE(OneRequest::fromKey(key), nullptr);

    const QList<QVariantList> events = rec.forKey(key);
    QCOMPARE(events.size(), rec.events.size());
    if (errorCode == 0) {
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().value(0).toString(), QStringLiteral("sslResponse"));
        QVERIFY(!events.first().value(1).toString().isEmpty());
        return;
    }
    QCOMPARE(events.first(), (QVariantList{QStringLiteral("error"), errorCode}));
    // A frame that fails to decode after its header still hands QML the header's
    // fields, right behind the error: that pair is its one outcome.
    if (events.size() == 2) {
        QCOMPARE(road, int(Service));
        QCOMPARE(events.last().value(0).toString(), QStringLiteral("response"));
        QCOMPARE(events.last().value(3).toString(), QString());
    }
    QVERIFY(events.size() <= 2);
}

void FaultTest::stallThenCancel_data()
{
    QTest::addColumn<int>("road");
    QTest::addColumn<QByteArray>("partial");
    for (int road : {Service, Text}) {
        const QString prefix = road == Service ? QStringLiteral("service: ") : QStringLiteral("text: ");
        QTest::newRow(qPrintable(prefix + "nothing sent")) << road << QByteArray();
        QTest::newRow(qPrintable(prefix + "status line only")) << road << QByteArray("HTTP/1.1 200 OK\r\n");
        QTest::newRow(qPrintable(prefix + "half the body"))
            << road
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 64\r\n\r\n0123456789abcdef0123456789abcdef");
        QTest::newRow(qPrintable(prefix + "chunks stop coming"))
            << road << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n");
    }
}

void FaultTest::stallThenCancel()
{
    QFETCH(int, road);
    QFETCH(QByteArray, partial);
    m_server->setCannedResponse(partial);
    ZelkoServiceHelper element;
    SignalRecorder rec(&element);
    auto send = [&](const QString &text) {
        return road == Service ? element.request(text) : element.requestHttps(text, m_server->url());
    };
    const int before = m_server->requests.size();
    const int key = send(QStringLiteral("stall"));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requests.size(), before + 1, 20000);
    element.cancel(key);
    QTRY_VERIFY_WITH_TIMEOUT(!rec.events.isEmpty(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(requestsHeldBy(element), 0, 20000);
    QCOMPARE(rec.events, (QList<QVariantList>{{QStringLiteral("error"), int(OneRequest::Canceled), key}}));
    element.cancel(key);

    // The element goes on working, and the cancelled request says nothing more.
    const QByteArray json = "{\"after\":\"stall\"}";
    m_server->setCannedResponse(
        MiniHttpServer::response(road == Service ? FrameWriter::answer(3, json, {}) : json));
    const int next = send(QStringLiteral("again"));
    QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 2, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(requestsHeldBy(element), 0, 20000);
    QCoreApplication::processEvents();
    QCOMPARE(rec.events.size(), 2);
    if (road == Service)
        QCOMPARE(rec.events.last(),
                 (QVariantList{QStringLiteral("response"), 3, 0, QString::fromLatin1(json), next}));
    else
        QCOMPARE(rec.events.last(),
                 (QVariantList{QStringLiteral("sslResponse"), QString::fromLatin1(json), next}));
}

void FaultTest::thousandInFlight_data()
{
    QTest::addColumn<bool>("drops");
    QTest::newRow("answered, refused, empty, stalled, cancelled") << false;
    // A dropped connection makes the network layer fail every request still queued for
    // the host with the same error: those end in error 2 instead of their own outcome.
    QTest::newRow("and some connections dropped") << true;
}

void FaultTest::thousandInFlight()
{
    // Five elements post 1000 service queries at once. The text of each says how the
    // server treats it: answered, refused with 500, answered with an empty body, dropped,
    // stalled (then cancelled once it reaches the server), or cancelled by the caller
    // before it leaves.
    QFETCH(bool, drops);
    enum Fate {
        Answer,
        Refuse,
        Empty,
        Stall,
        CancelEarly,
        Drop,
        FateCount
    };
    struct Sent
    {
        ZelkoServiceHelper *element;
        int key;
        Fate fate;
    };
    std::vector<std::unique_ptr<ZelkoServiceHelper>> elements;
    std::vector<std::unique_ptr<SignalRecorder>> recorders;
    for (int i = 0; i < 5; ++i) {
        elements.emplace_back(new ZelkoServiceHelper);
        recorders.emplace_back(new SignalRecorder(elements.back().get()));
    }
    QHash<QString, Sent> sent;
    m_server->setResponder([&sent](QTcpSocket *socket, const ReceivedRequest &request) {
        const QString text = QString::fromUtf8(request.body);
        const Sent s = sent.value(text);
        switch (s.fate) {
        case Answer:
            socket->write(MiniHttpServer::response(FrameWriter::answer(1, request.body, {})));
            break;
        case Refuse:
            socket->write(MiniHttpServer::response("busy", 500));
            break;
        case Empty:
            socket->write(MiniHttpServer::response(QByteArray()));
            break;
        case Stall:
            QTimer::singleShot(0, s.element, [s] { s.element->cancel(s.key); });
            break;
        case Drop:
            socket->disconnectFromHost();
            break;
        default:
            QFAIL(qPrintable("a request the caller cancelled reached the server: " + text));
        }
    });

    QRandomGenerator random(1000);
    QSet<int> keys;
    for (int i = 0; i < 1000; ++i) {
        const Fate fate = Fate(random.bounded(int(drops ? FateCount : Drop)));
        const int owner = i % int(elements.size());
        ZelkoServiceHelper *element = elements.at(size_t(owner)).get();
        const QString text = QStringLiteral("{\"n\":%1,\"fate\":%2}").arg(i).arg(int(fate));
        const int key = element->request(text);
        QVERIFY(key != 0);
        QVERIFY2(!keys.contains(key), "a key reused while live");
        keys.insert(key);
        sent.insert(text, {element, key, fate});
        if (fate == CancelEarly)
            element->cancel(key);
    }

    auto outcomes = [&] {
        int n = 0;
        for (const auto &r : recorders)
            n += r->events.size();
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(outcomes(), 1000, 240000);
    for (const auto &element : elements)
        QTRY_COMPARE_WITH_TIMEOUT(requestsHeldBy(*element), 0, 20000);
    QCoreApplication::processEvents();
    QCOMPARE(outcomes(), 1000);

    const int ownCode[] = {0,
                           OneRequest::OtherError,
                           OneRequest::DataError,
                           OneRequest::Canceled,
                           OneRequest::Canceled,
                           OneRequest::Error};
    for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
        const Sent &s = it.value();
        int owner = 0;
        while (elements.at(size_t(owner)).get() != s.element)
            ++owner;
        // Exactly one outcome, on the element that sent it.
        const QList<QVariantList> events = recorders.at(size_t(owner))->forKey(s.key);
        QVERIFY2(events.size() == 1, qPrintable(it.key()));
        QCOMPARE(OneRequest::fromKey(s.key), nullptr);
        const QVariantList own = s.fate == Answer ? QVariantList{QStringLiteral("response"), 1, 0, it.key()}
                                                  : QVariantList{QStringLiteral("error"), ownCode[s.fate]};
        const bool failedWithTheHost =
            drops && s.fate != CancelEarly
            && events.first() == QVariantList{QStringLiteral("error"), int(OneRequest::Error)};
        QVERIFY2(events.first() == own || failedWithTheHost,
                 qPrintable(it.key() + QStringLiteral(" ended in ") + events.first().value(0).toString() + ' '
                            + events.first().value(1).toString()));
    }
}

QTEST_GUILESS_MAIN(FaultTest)
#include "faulttest.moc"
