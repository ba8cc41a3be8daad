#include "randombytes.h"
#include "rspfile.h"

#include <QtTest>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "Md5Calc.h"
#include "Sha1Calc.h"
#include "Sha256Calc.h"

namespace {

const QStringList kAlgos{"SHA-256", "SHA-1", "MD5"};

// One face for the three record types, so that every table runs per algorithm.
struct Calc
{
    virtual ~Calc() = default;
    virtual SZ_T reset() = 0;
    virtual SZ_T calculate(const char *p, qint64 n) = 0;
    virtual SZ_T calcBlock(SZ_INT *dp, SZ_INT *rp) = 0;
    virtual QByteArray record() const = 0;
    // Every field reset is to set, by name; Value is not among them, reset keeps it.
    virtual QList<QPair<QByteArray, QByteArray>> resetFields() const = 0;
    virtual void garble(char fill) = 0;
    QByteArray value() const { return record().left(valueSize); } // Value is the first field
    QVector<SZ_INT> chaining() const { return QVector<SZ_INT>(reg, reg + valueSize / 4); }
    QCryptographicHash::Algorithm qt;
    bool bigEndian;
    int valueSize;
    SZ_INT *bufBytes, *lo, *hi, *reg;
};

template <typename R, SZ_T (*Init)(R *), SZ_T (*Reset)(R *), SZ_T (*Uninit)(R *),
          SZ_T (*Calculate)(R *, SZ_CHAR *, SZ_T), SZ_T (*Block)(SZ_INT *, SZ_INT *)>
struct CalcT : Calc
{
    R r;
    CalcT(QCryptographicHash::Algorithm a, bool be)
    {
        qt = a;
        bigEndian = be;
        valueSize = sizeof r.Value;
        bufBytes = &r.DwordBufBytes;
        lo = &r.ByteNumLo;
        hi = &r.ByteNumHi;
        reg = r.reg;
        memset(&r, 0xA5, sizeof r); // Value must come out of init untouched
        Init(&r);
    }
    ~CalcT() override { Uninit(&r); }
    SZ_T reset() override { return Reset(&r); }
    SZ_T calculate(const char *p, qint64 n) override
    {
        return Calculate(&r, reinterpret_cast<SZ_CHAR *>(const_cast<char *>(p)), SZ_T(n));
    }
    SZ_T calcBlock(SZ_INT *dp, SZ_INT *rp) override { return Block(dp, rp); }
    QByteArray record() const override { return QByteArray(reinterpret_cast<const char *>(&r), sizeof r); }
    QList<QPair<QByteArray, QByteArray>> resetFields() const override
    {
        const auto bytes = [](const void *p, size_t n) {
            return QByteArray(static_cast<const char *>(p), int(n)).toHex();
        };
        // Padding words 16..63 of SHA-256 hold the schedule scratch of the last block, which
        // every compression rewrites: only the 16-word block must start clean.
        return {{"DwordBufBytes", bytes(&r.DwordBufBytes, sizeof r.DwordBufBytes)},
                {"ByteNumLo", bytes(&r.ByteNumLo, sizeof r.ByteNumLo)},
                {"ByteNumHi", bytes(&r.ByteNumHi, sizeof r.ByteNumHi)},
                {"reg", bytes(r.reg, sizeof r.reg)},
                {"DwordBuf", bytes(r.DwordBuf, sizeof r.DwordBuf)},
                {"Padding[0..15]", bytes(r.Padding, 16 * sizeof r.Padding[0])}};
    }
    void garble(char fill) override { memset(&r, fill, sizeof r); }
};

std::unique_ptr<Calc> make(const QString &algo)
{
    if (algo == "SHA-256")
        return std::make_unique<CalcT<Sha256Calc, Sha256Calc_init, Sha256Calc_reset, Sha256Calc_uninit,
                                      Sha256Calc_calculate, Sha256Calc_calcBlock>>(QCryptographicHash::Sha256,
                                                                                   true);
    if (algo == "SHA-1")
        return std::make_unique<CalcT<Sha1Calc, Sha1Calc_init, Sha1Calc_reset, Sha1Calc_uninit,
                                      Sha1Calc_calculate, Sha1Calc_calcBlock>>(QCryptographicHash::Sha1,
                                                                               true);
    return std::make_unique<
        CalcT<Md5Calc, Md5Calc_init, Md5Calc_reset, Md5Calc_uninit, Md5Calc_calculate, Md5Calc_calcBlock>>(
        QCryptographicHash::Md5, false);
}

QByteArray hashOf(const Calc &c, const QByteArray &m)
{
    return QCryptographicHash::hash(m, c.qt).toHex();
}

// Byte-level padding as the standards write it, compressed block by block with calcBlock:
// an independent route to the digest of a message whose earlier blocks are already in `reg`.
QByteArray finish(Calc &c, QVector<SZ_INT> reg, QByteArray tail, quint64 bytes)
{
    const auto shift = [&](int i, int width) { return c.bigEndian ? width - 8 - 8 * i : 8 * i; };
    tail += char(0x80);
    tail += QByteArray((56 - tail.size() % 64 + 64) % 64, 0);
    for (int i = 0; i < 8; ++i)
        tail += char((bytes * 8) >> shift(i, 64));
    QVector<SZ_INT> w(64);
    for (int off = 0; off < tail.size(); off += 64) {
        std::fill(w.begin(), w.end(), 0);
        for (int i = 0; i < 64; ++i)
            w[i / 4] = SZ_INT(quint32(w[i / 4]) | quint32(quint8(tail[off + i])) << shift(i % 4, 32));
        // 0 is the one result that means the block was compressed.
        if (c.calcBlock(w.data(), reg.data()) != 0)
            return QByteArrayLiteral("calcBlock failed");
    }
    QByteArray out;
    for (int i = 0; i < c.valueSize; ++i)
        out += char(quint32(reg[i / 4]) >> shift(i % 4, 32));
    return out.toHex();
}

QString vectorPath(const QString &file)
{
    return QStringLiteral(ZELKO_TEST_DATA "/digests/") + file;
}

using RspFields = QList<QPair<QByteArray, QByteArray>>;

bool readRsp(const QString &path, RspFields *fields)
{
    std::vector<std::pair<std::string, std::string>> read;
    if (!readRspFile(path.toStdString(), &read))
        return false;
    for (const auto &kv : read)
        fields->append({QByteArray::fromStdString(kv.first), QByteArray::fromStdString(kv.second)});
    return true;
}

} // namespace

class DigestsTest : public QObject
{
    Q_OBJECT
private slots:
    void vectors_data()
    {
        QTest::addColumn<QString>("algo");
        QTest::addColumn<QByteArray>("msg");
        QTest::addColumn<QByteArray>("md");
        const QList<QPair<QString, QString>> files{{"SHA-256", "SHA256ShortMsg.rsp"},
                                                   {"SHA-256", "SHA256LongMsg.rsp"},
                                                   {"SHA-1", "SHA1ShortMsg.rsp"},
                                                   {"SHA-1", "SHA1LongMsg.rsp"},
                                                   {"MD5", "MD5rfc1321.rsp"}};
        for (const auto &file : files) {
            const QString path = vectorPath(file.second);
            RspFields fields;
            QVERIFY2(readRsp(path, &fields), qPrintable("cannot read " + path));
            int len = 0, rows = 0;
            QByteArray msg;
            for (const auto &kv : qAsConst(fields)) {
                if (kv.first == "Len") {
                    len = kv.second.toInt();
                } else if (kv.first == "Msg") { // for Len 0 the line holds a placeholder byte
                    msg = QByteArray::fromHex(kv.second).left(len / 8);
                } else if (kv.first == "MD") {
                    QTest::addRow("%s Len=%d", qPrintable(file.second), len)
                        << file.first << msg << kv.second;
                    ++rows;
                }
            }
            QVERIFY2(rows > 0, qPrintable("no vectors in " + path));
        }
    }
    void vectors()
    {
        QFETCH(QString, algo);
        QFETCH(QByteArray, msg);
        QFETCH(QByteArray, md);
        auto c = make(algo);
        QCOMPARE(c->calculate(msg.constData(), msg.size()), SZ_T(0));
        QCOMPARE(c->value().toHex(), md);
    }

    // Each checkpoint seeds the next, so every row is one checkpoint of the chain.
    void monteCarlo_data()
    {
        QTest::addColumn<QString>("algo");
        QTest::addColumn<QByteArray>("seed");
        QTest::addColumn<QByteArray>("checkpoint");
        for (const QString &algo : {QString("SHA-256"), QString("SHA-1")}) {
            const QString path = vectorPath(QString(algo).remove('-') + "Monte.rsp");
            RspFields fields;
            QVERIFY2(readRsp(path, &fields), qPrintable("cannot read " + path));
            QByteArray seed;
            int count = 0;
            for (const auto &kv : qAsConst(fields)) {
                if (kv.first == "Seed" || kv.first == "MD") {
                    if (kv.first == "MD")
                        QTest::addRow("%s %d", qPrintable(algo), count++) << algo << seed << kv.second;
                    seed = kv.second;
                }
            }
            QVERIFY2(count == 100, qPrintable(path));
        }
    }
    void monteCarlo()
    {
        QFETCH(QString, algo);
        QFETCH(QByteArray, seed);
        QFETCH(QByteArray, checkpoint);
        auto c = make(algo);
        QByteArray md[3];
        md[0] = md[1] = md[2] = QByteArray::fromHex(seed);
        for (int i = 3; i < 1003; ++i) {
            c->reset();
            for (const QByteArray &part : md)
                QCOMPARE(c->calculate(part.constData(), part.size()), SZ_T(0));
            md[0] = md[1];
            md[1] = md[2];
            md[2] = c->value();
        }
        QCOMPARE(md[2].toHex(), checkpoint);
    }

    void knownDigests_data()
    {
        QTest::addColumn<QString>("algo");
        QTest::addColumn<int>("length"); // of a run of 'a'
        QTest::addColumn<int>("piece");
        QTest::addColumn<QByteArray>("md");
        const char *empty[] = {"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
                               "da39a3ee5e6b4b0d3255bfef95601890afd80709",
                               "d41d8cd98f00b204e9800998ecf8427e"};
        const char *million[] = {"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
                                 "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
                                 "7707d6ae4e027c70eea2a935c2296f21"};
        for (int i = 0; i < 3; ++i) {
            const QByteArray a = kAlgos[i].toLatin1();
            QTest::addRow("%s empty", a.constData()) << kAlgos[i] << 0 << 0 << QByteArray(empty[i]);
            for (int piece : {1000000, 4093})
                QTest::addRow("%s million a, pieces of %d", a.constData(), piece)
                    << kAlgos[i] << 1000000 << piece << QByteArray(million[i]);
        }
    }
    void knownDigests()
    {
        QFETCH(QString, algo);
        QFETCH(int, length);
        QFETCH(int, piece);
        QFETCH(QByteArray, md);
        auto c = make(algo);
        QCOMPARE(c->value(), QByteArray(c->valueSize, char(0xA5))); // init leaves Value alone
        const QByteArray a(length, 'a');
        int done = 0;
        do {
            const int n = qMin(piece, length - done);
            QCOMPARE(c->calculate(a.constData() + done, n), SZ_T(0));
            done += n;
        } while (done < length);
        QCOMPARE(c->value().toHex(), md);
    }

    void pieces_data()
    {
        QTest::addColumn<QString>("algo");
        QTest::addColumn<quint32>("seed");
        for (const QString &algo : kAlgos)
            for (quint32 seed : {1u, 2u, 3u, 4u})
                QTest::addRow("%s seed %u", qPrintable(algo), seed) << algo << seed;
    }
    void pieces()
    {
        QFETCH(QString, algo);
        QFETCH(quint32, seed);
        auto c = make(algo);
        QRandomGenerator rng(seed);
        const QByteArray msg = randomBytes(rng, 300 + int(rng.bounded(600)));
        // Cuts that leave 55 (one final block), 56 and 63 (two) and 0 bytes pending, pieces of
        // exactly those lengths, random cuts, and a repeated cut for an empty call mid-message.
        QVector<int> cuts{0, int(msg.size())};
        for (int r : {55, 56, 63, 64}) {
            const int start = int(rng.bounded(msg.size() - r + 1));
            cuts << 64 * int(rng.bounded(msg.size() / 64)) + r << start << start + r;
        }
        for (int i = 0; i < 10; ++i)
            cuts << int(rng.bounded(msg.size() + 1));
        cuts << cuts[int(rng.bounded(cuts.size()))];
        std::sort(cuts.begin(), cuts.end());
        for (int i = 1; i < cuts.size(); ++i) {
            QCOMPARE(c->calculate(msg.constData() + cuts[i - 1], cuts[i] - cuts[i - 1]), SZ_T(0));
            QCOMPARE(c->value().toHex(), hashOf(*c, msg.left(cuts[i])));
            QCOMPARE(*c->bufBytes, cuts[i] % 64);
        }
    }

    void resetStartsNewMessage_data()
    {
        QTest::addColumn<QString>("algo");
        QTest::addColumn<int>("firstLength");
        for (const QString &algo : kAlgos)
            for (int first : {5, 64, 70, 120})
                QTest::addRow("%s after %d bytes", qPrintable(algo), first) << algo << first;
    }
    void resetStartsNewMessage()
    {
        QFETCH(QString, algo);
        QFETCH(int, firstLength);
        auto c = make(algo);
        const QByteArray first(firstLength, '\xC3'), second("a second, shorter message");
        QCOMPARE(c->calculate(first.constData(), first.size()), SZ_T(0));
        const QByteArray firstDigest = c->value();
        QCOMPARE(c->reset(), SZ_T(0));
        QCOMPARE(c->value(), firstDigest);
        QCOMPARE(c->calculate(second.constData(), second.size()), SZ_T(0));
        QCOMPARE(c->value().toHex(), hashOf(*c, second));
    }

    // A reset record must equal a freshly initialised one in every field, not only in those
    // the next digest happens to read.
    void resetClearsRecord_data()
    {
        QTest::addColumn<QString>("algo");
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("garbled");
        for (const QString &algo : kAlgos) {
            const QByteArray a = algo.toLatin1();
            for (int length : {5, 64, 119, 1000})
                QTest::addRow("%s after %d bytes", a.constData(), length) << algo << length << false;
            QTest::addRow("%s every byte garbled", a.constData()) << algo << 0 << true;
        }
    }
    void resetClearsRecord()
    {
        QFETCH(QString, algo);
        QFETCH(int, length);
        QFETCH(bool, garbled);
        auto used = make(algo), fresh = make(algo);
        QByteArray msg(length, 0);
        for (int i = 0; i < length; ++i)
            msg[i] = char(i * 73 + 29);
        QCOMPARE(used->calculate(msg.constData(), msg.size()), SZ_T(0));
        if (garbled)
            used->garble('\x5A');
        const QByteArray value = used->value();

        QCOMPARE(used->reset(), SZ_T(0));
        QCOMPARE(used->value(), value);
        const auto got = used->resetFields(), want = fresh->resetFields();
        QCOMPARE(got.size(), want.size());
        for (int i = 0; i < got.size(); ++i) {
            const QString name = got[i].first, hex = got[i].second, initial = want[i].second;
            // Apart from the initial chaining value everything starts at zero: bytes are OR-ed in.
            if (name != "reg")
                QVERIFY2(initial.count('0') == initial.size(),
                         qPrintable(name + " of a fresh record: " + initial));
            QVERIFY2(hex == initial, qPrintable(name + " after reset: " + hex + ", fresh: " + initial));
        }
    }

    // Each case starts with 10 bytes pending and a count set by hand; 2^61 bytes is hi 0x20000000.
    void lengthLimit_data()
    {
        QTest::addColumn<QString>("algo");
        QTest::addColumn<quint32>("hi");
        QTest::addColumn<quint32>("lo");
        QTest::addColumn<qint64>("dl");
        QTest::addColumn<bool>("accepted");
        for (const QString &algo : kAlgos) {
            const QByteArray a = algo.toLatin1();
            auto row = [&](const char *name, quint32 hi, quint32 lo, qint64 dl, bool accepted) {
                QTest::addRow("%s %s", a.constData(), name) << algo << hi << lo << dl << accepted;
            };
            row("to 2^61-1", 0x1FFFFFFF, 0xFFFFFFCA, 53, true);
            row("to 2^61", 0x1FFFFFFF, 0xFFFFFFCA, 54, false);
            row("nothing at 2^61-1", 0x1FFFFFFF, 0xFFFFFFFF, 0, true);
            row("one byte at 2^61-1", 0x1FFFFFFF, 0xFFFFFFFF, 1, false);
            row("carry into high word", 0x1FFFFFFE, 0xFFFFFFCA, 54, true);
            row("LONG_MAX", 0x1FFFFFFF, 0xFFFFFFCA, LONG_MAX, false);
            if (sizeof(SZ_T) > 4) // a length whose own high word crosses the limit
                row("2^61 in one call", 0, 10, qint64(1) << 61, false);
        }
    }
    void lengthLimit()
    {
        QFETCH(QString, algo);
        QFETCH(quint32, hi);
        QFETCH(quint32, lo);
        QFETCH(qint64, dl);
        QFETCH(bool, accepted);
        auto c = make(algo);
        QByteArray data(64, 0);
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 37 + 1);
        QCOMPARE(c->calculate(data.constData(), 10), SZ_T(0));
        const QVector<SZ_INT> reg = c->chaining();
        *c->hi = SZ_INT(hi);
        *c->lo = SZ_INT(lo);
        const QByteArray before = c->record();

        const SZ_T rc = c->calculate(data.constData() + 10, dl);
        if (!accepted) {
            QCOMPARE(rc, SZ_T(10));
            QVERIFY(c->record() == before);
            return;
        }
        QCOMPARE(rc, SZ_T(0));
        const quint64 total = (quint64(hi) << 32 | lo) + quint64(dl);
        QCOMPARE(quint32(*c->hi), quint32(total >> 32));
        QCOMPARE(quint32(*c->lo), quint32(total));
        // Value must carry the whole 64-bit bit count, in the algorithm's word and byte order.
        QCOMPARE(c->value().toHex(), finish(*c, reg, data.left(10 + int(dl)), total));
    }

    // "abc" fits one padded block: one compression from the initial value gives its digest.
    void calcBlockAbc_data()
    {
        QTest::addColumn<QString>("algo");
        for (const QString &algo : kAlgos)
            QTest::newRow(qPrintable(algo)) << algo;
    }
    void calcBlockAbc()
    {
        QFETCH(QString, algo);
        auto c = make(algo);
        QCOMPARE(finish(*c, c->chaining(), "abc", 3), hashOf(*c, "abc"));
    }
};

QTEST_APPLESS_MAIN(DigestsTest)
#include "digeststest.moc"
