#include "randombytes.h"
#include <QtTest>

#include <zlib.h>

#include <new>

#include "addressspacecap.h"
#include "decompressmethods.h"

namespace {

// windowBits 15: zlib wrapper, -15: raw deflate, 31: gzip wrapper.
QByteArray deflateWith(const QByteArray &data, int windowBits)
{
    z_stream zs = {};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(int(deflateBound(&zs, uLong(data.size()))), '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    const int ret = deflate(&zs, Z_FINISH);
    out.resize(int(zs.total_out));
    deflateEnd(&zs);
    return ret == Z_STREAM_END ? out : QByteArray();
}

QByteArray zlibStream(const QByteArray &data)
{
    QByteArray out(int(compressBound(uLong(data.size()))), '\0');
    uLongf outLen = uLongf(out.size());
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &outLen,
                  reinterpret_cast<const Bytef *>(data.constData()), uLong(data.size()), 9)
        != Z_OK)
        return QByteArray();
    out.resize(int(outLen));
    return out;
}

} // namespace

class DecompressMethodsTest : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void rejected_data();
    void rejected();
    void nullInput_data();
    void nullInput();
    void declaredLengthIsNotTrusted();
    void inflatedSizeLimit();
};

void DecompressMethodsTest::roundTrip_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<qint64>("declared");

    const QByteArray hello("hello");
    const QByteArray rnd = randomBytes(300000, 7);
    const QByteArray text = QByteArray("zelko ").repeated(50000);
    for (qint64 declared : {qint64(0), qint64(5), qint64(1), qint64(1000), qint64(-1), qint64(1) << 32})
        QTest::addRow("hello declared %lld", declared) << hello << zlibStream(hello) << declared;
    for (qint64 declared : {qint64(0), qint64(rnd.size()), qint64(100), qint64(rnd.size()) * 3})
        QTest::addRow("random declared %lld", declared) << rnd << zlibStream(rnd) << declared;
    QTest::newRow("compressible, grows from one byte") << text << zlibStream(text) << qint64(1);
    QTest::newRow("empty payload") << QByteArray() << zlibStream(QByteArray()) << qint64(0);
    QTest::newRow("trailing bytes ignored")
        << hello << zlibStream(hello) + QByteArray::fromHex("deadbeef00") << qint64(5);
    QTest::newRow("second stream ignored") << hello << zlibStream(hello) + zlibStream("world") << qint64(10);
}

void DecompressMethodsTest::roundTrip()
{
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, input);
    QFETCH(qint64, declared);
    QVERIFY(!input.isEmpty());
    QCOMPARE(DecompressMethods::ZlibDecompress(&input, declared), plain);
}

void DecompressMethodsTest::rejected_data()
{
    QTest::addColumn<QByteArray>("input");

    const QByteArray rnd = randomBytes(5000, 11);
    const QByteArray full = zlibStream(rnd);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("random") << randomBytes(64, 3);
    QTest::newRow("header only") << full.left(2);
    QTest::newRow("truncated") << full.left(full.size() / 2);
    QTest::newRow("missing checksum") << full.left(full.size() - 4);
    QTest::newRow("last checksum byte missing") << full.left(full.size() - 1);
    QByteArray badSum = full;
    badSum[badSum.size() - 1] = char(badSum.at(badSum.size() - 1) ^ 0x01);
    QTest::newRow("bad checksum") << badSum;
    QTest::newRow("raw deflate") << deflateWith(rnd, -15);
    QTest::newRow("gzip") << deflateWith(rnd, 31);
    // Header asking for a preset dictionary (FDICT set, check bits valid).
    QTest::newRow("preset dictionary") << QByteArray::fromHex("78bb0000000100");
}

void DecompressMethodsTest::rejected()
{
    QFETCH(QByteArray, input);
    for (qint64 declared : {qint64(0), qint64(5000), qint64(1) << 32})
        QVERIFY(DecompressMethods::ZlibDecompress(&input, declared).isEmpty());
}

void DecompressMethodsTest::nullInput_data()
{
    QTest::addColumn<qint64>("declared");
    for (qint64 declared : {qint64(0), qint64(5), qint64(-1), qint64(1) << 32})
        QTest::addRow("declared %lld", declared) << declared;
}

void DecompressMethodsTest::nullInput()
{
    // A public slot taking a pointer: no input must read as a rejected stream, not a crash.
    QFETCH(qint64, declared);
    QVERIFY(DecompressMethods::ZlibDecompress(nullptr, declared).isEmpty());
}

void DecompressMethodsTest::declaredLengthIsNotTrusted()
{
    QByteArray input = zlibStream("hello");
    QByteArray out;
    {
        // A first buffer of the declared 4 GiB, or even of the 64 MiB limit,
        // would not fit under this cap.
        AddressSpaceCap cap(32 * 1024 * 1024);
        try {
            out = DecompressMethods::ZlibDecompress(&input, qint64(0xffffffff));
        } catch (const std::bad_alloc &) {
            QFAIL("the output buffer followed the declared length");
        }
    }
    QCOMPARE(out, QByteArray("hello"));
}

void DecompressMethodsTest::inflatedSizeLimit()
{
    const int limit = int(DecompressMethods::MaxInflatedSize);
    QCOMPARE(limit, 64 * 1024 * 1024);

    QByteArray atLimit = zlibStream(QByteArray(limit, '\0'));
    QByteArray pastLimit = zlibStream(QByteArray(limit + 1, '\0'));
    QByteArray wellPast = zlibStream(QByteArray(65 * 1024 * 1024, '\0'));
    QVERIFY(!atLimit.isEmpty() && !pastLimit.isEmpty() && !wellPast.isEmpty());

    const QByteArray out = DecompressMethods::ZlibDecompress(&atLimit, limit);
    QCOMPARE(out.size(), limit);
    QCOMPARE(out.count('\0'), limit);
    QVERIFY(DecompressMethods::ZlibDecompress(&pastLimit, limit + 1).isEmpty());
    QVERIFY(DecompressMethods::ZlibDecompress(&wellPast, 1).isEmpty());
}

QTEST_APPLESS_MAIN(DecompressMethodsTest)
#include "decompressmethodstest.moc"
