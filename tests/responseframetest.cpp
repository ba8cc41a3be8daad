#include "framewriter.h"
#include "logcapture.h"
#include "minihttpserver.h"
#include "resourcesmap.h"
#include "zelkoqtroot.h"
#include "zelkoservicehelper.h"

#include <QtTest>

using FrameWriter::Frame;
using FrameWriter::Resource;

// Frames served by a loopback server at the service address, posted by the
// Request element: the exact signal sequence, the decoder's log lines and the
// cache contents, per frame.
class ResponseFrameTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void outcomes_data();
    void outcomes();
    void resourceBlocks_data();
    void resourceBlocks();

private:
    void serve(const QByteArray &frame, QList<QVariantList> *events, QStringList *log);
    QScopedPointer<MiniHttpServer> m_server;
    std::optional<LogCapture> m_log;
};

using Events = QList<QVariantList>;
using Entries = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Events)
Q_DECLARE_METATYPE(Entries)

static QVariantList err(int code)
{
    return {QStringLiteral("error"), code};
}
static QVariantList resp(int type, int error, const QString &json)
{
    return {QStringLiteral("response"), type, error, json};
}

static QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}
static QByteArray json(const QByteArray &text)
{
    return FrameWriter::le32(quint32(text.size())) + text;
}

void ResponseFrameTest::initTestCase()
{
    m_log.emplace();
    m_server.reset(MiniHttpServer::asService());
    QVERIFY(m_server->isListening());
}

void ResponseFrameTest::cleanupTestCase()
{
    ZelkoQtRoot::destroy();
    m_log.reset();
}

void ResponseFrameTest::serve(const QByteArray &frame, QList<QVariantList> *events, QStringList *log)
{
    m_server->setCannedResponse(MiniHttpServer::response(frame));
    ZelkoServiceHelper element;
    int order = 0;
    connect(&element, &ZelkoServiceHelper::error, [&](int code, int key) {
        events->append({QStringLiteral("error"), code, key, order++});
    });
    connect(&element, &ZelkoServiceHelper::response, [&](int type, int error, const QString &text, int key) {
        events->append({QStringLiteral("response"), type, error, text, key, order++});
    });
    m_log->clear();
    const int key = element.request(QStringLiteral("{\"q\":\"frame\"}"));
    QVERIFY(QTest::qWaitFor([&] { return element.findChildren<OneRequest *>().isEmpty(); }, 20000));
    // Every event carries the request's own key; strip it and the order stamp for comparison.
    for (QVariantList &e : *events) {
        QCOMPARE(e.value(e.size() - 2).toInt(), key);
        e = e.mid(0, e.size() - 2);
    }
    // Only what the decoder itself may say; transport lines are tested elsewhere.
    for (const QString &line : qAsConst(m_log->debugLines))
        if (!line.startsWith(QLatin1String("delete reply:"))
            && !line.startsWith(QLatin1String("Net ERROR CODE:")) && line != QLatin1String("call httpHelper"))
            log->append(line);
}

void ResponseFrameTest::outcomes_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<Events>("expected");
    QTest::addColumn<QStringList>("log");

    Frame ok;
    ok.serviceType = 7;
    ok.json = "{}";
    const QByteArray okPlain = FrameWriter::encode(ok);
    Frame packed = ok;
    packed.compressFlag = FrameWriter::Zlib;

    QTest::newRow("9 bytes") << hex("000000000700000000") << Events{err(2)} << QStringList();
    QTest::newRow("10 zero bytes") << QByteArray(10, '\0') << Events{err(2), resp(0, 0, "")}
                                   << QStringList{"Content Data error"};
    QTest::newRow("head not 0") << hex("01000000070000000000") + okPlain.mid(10)
                                << Events{err(2), resp(0, 0, "")} << QStringList();
    Frame serviceError = ok;
    serviceError.errorCode = 5;
    QTest::newRow("service error 5") << FrameWriter::encode(serviceError) << Events{err(2), resp(7, 5, "")}
                                     << QStringList();
    Frame flag1 = ok;
    flag1.compressFlag = 1;
    QTest::newRow("compress flag 1") << FrameWriter::encode(flag1) + ok.json << Events{err(2), resp(7, 0, "")}
                                     << QStringList{"Compress flag invalid"};
    flag1.compressFlag = 255;
    QTest::newRow("compress flag 255") << FrameWriter::encode(flag1) << Events{err(2), resp(7, 0, "")}
                                       << QStringList{"Compress flag invalid"};
    QTest::newRow("plain") << okPlain << Events{resp(7, 0, "{}")} << QStringList();
    QTest::newRow("compressed") << FrameWriter::encode(packed) << Events{resp(7, 0, "{}")} << QStringList();
    Frame wrongLen = packed;
    wrongLen.originalLen = 0;
    QTest::newRow("compressed, declared 0")
        << FrameWriter::encode(wrongLen) << Events{resp(7, 0, "{}")} << QStringList();
    wrongLen.originalLen = 0xFFFFFFFFu;
    QTest::newRow("compressed, declared 4 GiB")
        << FrameWriter::encode(wrongLen) << Events{resp(7, 0, "{}")} << QStringList();
    Frame cut = packed;
    cut.keepCompressed = 6;
    QTest::newRow("compressed stream cut short")
        << FrameWriter::encode(cut) << Events{err(2), resp(7, 0, "")} << QStringList{"Content Data error"};
    Frame garbage = ok;
    garbage.compressFlag = FrameWriter::Zlib;
    garbage.rawContent = QByteArray("not zlib at all");
    QTest::newRow("compressed garbage")
        << hex("00000000070000000002") + FrameWriter::le32(99) + FrameWriter::le32(15) + "not zlib at all"
        << Events{err(2), resp(7, 0, "")} << QStringList{"Content Data error"};
    QTest::newRow("header only") << okPlain.left(14) << Events{err(2), resp(7, 0, "")}
                                 << QStringList{"Content Data error"};
    QTest::newRow("plain content of length 0")
        << hex("0000000007000000000000000000") + "trailing" << Events{err(2), resp(7, 0, "")}
        << QStringList{"Content Data error"};
    Frame shortJson = ok;
    shortJson.json = "abcd";
    shortJson.jsonLen = 10;
    QTest::newRow("json shorter than its length")
        << FrameWriter::encode(shortJson) << Events{resp(7, 0, "abcd")} << QStringList();
    Frame trailing = ok;
    trailing.rawContent = hex("00") + json("{}") + "after json";
    trailing.trailing = "after content";
    QTest::newRow("bytes after json and content")
        << FrameWriter::encode(trailing) << Events{resp(7, 0, "{}")} << QStringList();
    Frame longer = ok;
    longer.originalLen = 1000;
    QTest::newRow("plain length beyond the frame")
        << FrameWriter::encode(longer) << Events{resp(7, 0, "{}")} << QStringList();
    Frame highType = ok;
    highType.serviceType = 0xFFFFFFFEu;
    QTest::newRow("service type above 2^31")
        << FrameWriter::encode(highType) << Events{resp(-2, 0, "{}")} << QStringList();
    Frame utf8 = ok;
    utf8.json = QStringLiteral("{\"q\":\"Zürich 北京\"}").toUtf8();
    QTest::newRow("utf-8 json") << FrameWriter::encode(utf8)
                                << Events{resp(7, 0, QStringLiteral("{\"q\":\"Zürich 北京\"}"))}
                                << QStringList();
    Frame badUtf8 = ok;
    badUtf8.json = "a\xff"
                   "b";
    QTest::newRow("malformed utf-8 json")
        << FrameWriter::encode(badUtf8) << Events{resp(7, 0, QStringLiteral("a\uFFFDb"))} << QStringList();
}

void ResponseFrameTest::outcomes()
{
    QFETCH(QByteArray, frame);
    QFETCH(Events, expected);
    QFETCH(QStringList, log);
    Events events;
    QStringList seen;
    serve(frame, &events, &seen);
    QCOMPARE(events, expected);
    QCOMPARE(seen, log);
}

void ResponseFrameTest::resourceBlocks_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("json");
    QTest::addColumn<Entries>("stored");
    QTest::addColumn<QStringList>("absent");

    auto frameOf = [](const QByteArray &contentBytes, bool compress = false) {
        Frame f;
        f.serviceType = 3;
        f.rawContent = contentBytes;
        QByteArray out = FrameWriter::encode(f);
        if (compress) {
            Frame z = f;
            z.compressFlag = FrameWriter::Zlib;
            out = FrameWriter::encode(z);
        }
        return out;
    };
    auto entry = [](const QByteArray &id, const QByteArray &data) {
        return FrameWriter::resourceEntry(Resource{id, 1, data});
    };

    Frame two;
    two.serviceType = 3;
    two.hasResources = true;
    two.resources = {Resource{"r1/a", 1, "alpha"}, Resource{"r1/b", 2, QByteArray(3000, 'b')}};
    two.json = "[1]";
    two.compressFlag = FrameWriter::Zlib;
    QTest::newRow("two entries, compressed")
        << FrameWriter::encode(two) << "[1]" << Entries{{"r1/a", "alpha"}, {"r1/b", QByteArray(3000, 'b')}}
        << QStringList();

    QTest::newRow("empty block 00 00 00 00")
        << frameOf(hex("01") + hex("00000000") + json("[2]")) << "[2]" << Entries() << QStringList();
    QTest::newRow("dataLen 4, resCount 0")
        << frameOf(hex("01") + FrameWriter::le32(4) + FrameWriter::le32(0) + json("[3]")) << "[3]"
        << Entries() << QStringList();
    QTest::newRow("count 2, one entry stored")
        << frameOf(hex("01") + FrameWriter::le32(4 + entry("r4/x", "xx").size()) + FrameWriter::le32(2)
                   + entry("r4/x", "xx") + json("[4]"))
        << "[4]" << Entries{{"r4/x", "xx"}} << QStringList();
    const QByteArray dup = entry("r5/d", "first") + entry("r5/d", "second");
    QTest::newRow("same id twice, second wins")
        << frameOf(hex("01") + FrameWriter::le32(4 + dup.size()) + FrameWriter::le32(2) + dup + json("[5]"))
        << "[5]" << Entries{{"r5/d", "second"}} << QStringList();
    const QByteArray zeroCut = hex("03610062") + hex("01") + FrameWriter::le32(1) + "z";
    QTest::newRow("id cut at zero byte")
        << frameOf(hex("01") + FrameWriter::le32(4 + zeroCut.size()) + FrameWriter::le32(1) + zeroCut
                   + json("[6]"))
        << "[6]" << Entries{{"a", "z"}} << QStringList{QString::fromLatin1("a\0b", 3)};
    QTest::newRow("content of 3 bytes") << frameOf(hex("010000")) << "" << Entries() << QStringList();
    QTest::newRow("content of exactly 4 bytes")
        << frameOf(hex("01050000")) << "" << Entries() << QStringList();
    for (quint32 small = 1; small <= 3; ++small) {
        // The area is empty and nothing beyond resCount is consumed.
        QTest::addRow("dataLen %u", small)
            << frameOf(hex("01") + FrameWriter::le32(small) + FrameWriter::le32(1) + json("[7]")) << "[7]"
            << Entries() << QStringList();
    }
    const QByteArray cutEntry = entry("r8/full", "1234") + entry("r8/cut", "abcdefgh").left(15);
    QTest::newRow("block longer than the content")
        << frameOf(hex("01") + FrameWriter::le32(1000) + FrameWriter::le32(2) + cutEntry) << ""
        << Entries{{"r8/full", "1234"}, {"r8/cut", "abc"}} << QStringList();
    const QByteArray area = entry("r9/one", "1") + entry("r9/two", "2222").left(14);
    QTest::newRow("last entry cut by the area")
        << frameOf(hex("01") + FrameWriter::le32(4 + area.size()) + FrameWriter::le32(2) + area + json("[9]"))
        << "[9]" << Entries{{"r9/one", "1"}, {"r9/two", "22"}} << QStringList();
    QTest::newRow("flag without a block, compressed")
        << frameOf(hex("01") + hex("00000000") + json("[10]"), true) << "[10]" << Entries() << QStringList();
}

void ResponseFrameTest::resourceBlocks()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, json);
    QFETCH(Entries, stored);
    QFETCH(QStringList, absent);
    Events events;
    QStringList log;
    // No cache beforehand: a frame that announces resources makes it, whatever its block holds.
    ZelkoQtRoot::destroy();
    serve(frame, &events, &log);
    // Whatever happens inside the block, the JSON after it is decoded and nothing is logged.
    QCOMPARE(events, (Events{resp(3, 0, json)}));
    QCOMPARE(log, QStringList());
    QVERIFY(ZelkoQtRoot::exists());
    ResourcesMap *cache = ZelkoQtRoot::getInstance()->findChild<ResourcesMap *>();
    QVERIFY(cache);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        QCOMPARE(cache->data(it.key()), it.value());
    for (const QString &id : absent)
        QVERIFY(cache->data(id).isEmpty());
    QCOMPARE(cache->count(), stored.size());
}

QTEST_GUILESS_MAIN(ResponseFrameTest)
#include "responseframetest.moc"
