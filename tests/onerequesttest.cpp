#include "fakereply.h"
#include "onerequest.h"

#include <QMetaEnum>
#include <QtTest>

class OneRequestTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void signatures();
    void errorMapping_data();
    void errorMapping();
    void bodies_data();
    void bodies();
    void cancelInFlight();
    void cancelAfterOutcome();
    void destructionReleasesReply();
    void keysAreLiveAndUnique();
};

struct Outcome
{
    QSignalSpy finished;
    QSignalSpy error;
    explicit Outcome(OneRequest *r)
        : finished(r, &OneRequest::finished)
        , error(r, &OneRequest::error)
    {
    }
    int total() const { return finished.count() + error.count(); }
    int errorType() const { return error.isEmpty() ? 0 : error.first().first().toInt(); }
};

void OneRequestTest::initTestCase()
{
    qRegisterMetaType<OneRequest::ErrorType>();
    qRegisterMetaType<OneRequest *>();
}

void OneRequestTest::signatures()
{
    // Receivers connect by these exact texts.
    const QMetaObject *mo = &OneRequest::staticMetaObject;
    QVERIFY(mo->indexOfSignal("error(OneRequest::ErrorType,OneRequest*)") >= 0);
    QVERIFY(mo->indexOfSignal("finished(QByteArray,OneRequest*)") >= 0);
    QVERIFY(mo->indexOfSlot("replyError(QNetworkReply::NetworkError)") >= 0);
    QVERIFY(mo->indexOfSlot("replyFinished()") >= 0);
    QCOMPARE(int(OneRequest::TimeOut), 1);
    QCOMPARE(int(OneRequest::OtherError), 5);
}

void OneRequestTest::errorMapping_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("expected");
    // Every value the network layer defines, so a new or forgotten one cannot slip through.
    const QMetaEnum codes = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    for (int i = 0; i < codes.keyCount(); ++i) {
        const int code = codes.value(i);
        int expected = OneRequest::OtherError;
        switch (code) {
        case QNetworkReply::NoError:
            expected = 0;
            break;
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::RemoteHostClosedError:
        case QNetworkReply::HostNotFoundError:
            expected = OneRequest::Error;
            break;
        case QNetworkReply::TimeoutError:
            expected = OneRequest::TimeOut;
            break;
        case QNetworkReply::OperationCanceledError:
            expected = OneRequest::Canceled;
            break;
        }
        QTest::newRow(codes.key(i)) << code << expected;
    }
}

void OneRequestTest::errorMapping()
{
    QFETCH(int, code);
    QFETCH(int, expected);
    QObject owner;
    auto *reply = new FakeReply;
    auto *request = new OneRequest(reply, &owner);
    Outcome outcome(request);
    if (code != 0)
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Net ERROR CODE: %1").arg(code)));
    reply->complete(QNetworkReply::NetworkError(code), "body");
    if (expected == 0) {
        // No error: the body decides, through finished().
        QCOMPARE(outcome.error.count(), 0);
        QCOMPARE(outcome.finished.count(), 1);
    } else {
        QCOMPARE(outcome.total(), 1);
        QCOMPARE(outcome.errorType(), expected);
        QCOMPARE(outcome.error.first().at(1).value<OneRequest *>(), request);
    }
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
