#include "randombytes.h"
#include "skips.h"

#include <QtTest>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <cstring>

#include "Sha1Calc.h"
#include "Sha256Calc.h"
#include "ShaExtCalc.h"

// The calculators compress with the CPU's SHA instructions where it has them.
// Both paths must leave the same record after every call: Value, the counts,
// reg, DwordBuf and the block words of Padding. Only the SHA-256 schedule words
// (Padding 16..63) may differ, as the accelerated path keeps them in registers.
namespace {

// Turns the SHA instructions off (or back to their default) for its lifetime.
class PathChoice
{
public:
    explicit PathChoice(bool allowed)
        : m_previous(ShaExtCalc_allow(allowed))
    {
    }
    ~PathChoice() { ShaExtCalc_allow(m_previous); }

private:
    int m_previous;
};

void randomWords(QRandomGenerator &rng, SZ_INT *words, int count)
{
    for (int i = 0; i < count; ++i)
        words[i] = SZ_INT(rng.generate());
}

// The record without the words that are only scratch space for one path.
template <typename Record> QByteArray observable(const Record &r)
{
    QByteArray bytes(reinterpret_cast<const char *>(&r), int(offsetof(Record, Padding)));
    bytes.append(reinterpret_cast<const char *>(r.Padding), 16 * int(sizeof(SZ_INT)));
    return bytes;
}

template <typename Record, SZ_T (*Init)(Record *), SZ_T (*Calculate)(Record *, SZ_CHAR *, SZ_T)>
void comparePaths(quint32 seed, QCryptographicHash::Algorithm algorithm)
{
    QRandomGenerator rng(seed);
    const QByteArray msg = randomBytes(rng, 2000 + int(rng.bounded(3000)));
    Record portable, accelerated;
    std::memset(&portable, 0x5A, sizeof portable);
    std::memset(&accelerated, 0x5A, sizeof accelerated);
    Init(&portable);
    Init(&accelerated);
    int done = 0;
    while (done < msg.size()) {
        // Pieces across block boundaries, whole blocks, and several blocks at once.
        const int choices[] = {1, 3, 55, 56, 63, 64, 65, 128, 200, 640};
        const int n = qMin(choices[rng.bounded(int(sizeof choices / sizeof *choices))], msg.size() - done);
        SZ_CHAR *p = reinterpret_cast<SZ_CHAR *>(const_cast<char *>(msg.constData() + done));
        {
            PathChoice off(false);
            QCOMPARE(Calculate(&portable, p, n), SZ_T(0));
        }
        QCOMPARE(Calculate(&accelerated, p, n), SZ_T(0));
        done += n;
        QCOMPARE(observable(accelerated).toHex(), observable(portable).toHex());
        const QByteArray value(reinterpret_cast<const char *>(portable.Value), int(sizeof portable.Value));
        QCOMPARE(value.toHex(), QCryptographicHash::hash(msg.left(done), algorithm).toHex());
    }
}

} // namespace

class DigestPathsTest : public QObject
{
    Q_OBJECT
private slots:
    void choice()
    {
        QCOMPARE(ShaExtCalc_allow(0), 1);
        QCOMPARE(ShaExtCalc_inUse(), 0);
        // What the calculators compress with follows the setting from the next call on.
        QVERIFY(ShaExtCalc_sha256Choice() != ShaExtCalc_sha256Block);
        QVERIFY(ShaExtCalc_sha1Choice() != ShaExtCalc_sha1Block);
        QCOMPARE(ShaExtCalc_allow(1), 0);
        QCOMPARE(ShaExtCalc_inUse(), ShaExtCalc_available());
        QCOMPARE(ShaExtCalc_sha256Choice() == ShaExtCalc_sha256Block, ShaExtCalc_available() != 0);
        QCOMPARE(ShaExtCalc_sha1Choice() == ShaExtCalc_sha1Block, ShaExtCalc_available() != 0);
        if (!ShaExtCalc_available())
            qInfo("this CPU has no SHA instructions: both runs below take the portable path");
    }

    // Where the build knows the CPU has them (the arm64 build under qemu-aarch64 -cpu max),
    // a detection that finds nothing would turn every comparison here into portable vs portable.
    void detection()
    {
        if (!qEnvironmentVariableIsSet("ZELKO_EXPECT_SHA_INSTRUCTIONS"))
            return;
        QCOMPARE(ShaExtCalc_available(), qEnvironmentVariableIntValue("ZELKO_EXPECT_SHA_INSTRUCTIONS"));
    }

    void samePathResults_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed = 1; seed <= 8; ++seed)
            QTest::addRow("seed %u", seed) << seed;
    }
    void samePathResults()
    {
        QFETCH(quint32, seed);
        comparePaths<Sha256Calc, Sha256Calc_init, Sha256Calc_calculate>(seed, QCryptographicHash::Sha256);
        comparePaths<Sha1Calc, Sha1Calc_init, Sha1Calc_calculate>(seed, QCryptographicHash::Sha1);
    }

    // The block functions themselves, on random blocks and chaining values.
    void sameBlockResults()
    {
        if (!ShaExtCalc_available())
            ZELKO_SKIP_WITHOUT_CPU_FEATURE("SHA instructions");
        QRandomGenerator rng(77);
        for (int round = 0; round < 1000; ++round) {
            SZ_INT block[64], copy[64], reg[8], regExt[8];
            randomWords(rng, block, 64);
            randomWords(rng, reg, 8);
            std::memcpy(copy, block, sizeof block);
            std::memcpy(regExt, reg, sizeof reg);
            Sha256Calc_calcBlock(block, reg);
            ShaExtCalc_sha256Block(copy, regExt);
            QVERIFY(std::memcmp(reg, regExt, sizeof reg) == 0);
            QVERIFY(std::memcmp(block, copy, 16 * sizeof(SZ_INT)) == 0); // the block is only read

            std::memcpy(regExt, reg, sizeof reg);
            Sha1Calc_calcBlock(block, reg);
            ShaExtCalc_sha1Block(block, regExt);
            QVERIFY(std::memcmp(reg, regExt, 5 * sizeof(SZ_INT)) == 0);
            QCOMPARE(regExt[5], reg[5]); // the unused sixth word is left alone
        }
    }

    // Whole blocks straight from the message bytes, at any alignment, against the
    // portable block functions on the same bytes packed as big-endian words.
    void sameBlocksResults_data()
    {
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("offset");
        for (int blocks : {1, 2, 5})
            for (int offset : {0, 3})
                QTest::addRow("%d at +%d", blocks, offset) << blocks << offset;
    }
    void sameBlocksResults()
    {
        if (!ShaExtCalc_available())
            ZELKO_SKIP_WITHOUT_CPU_FEATURE("SHA instructions");
        QFETCH(int, blocks);
        QFETCH(int, offset);
        QRandomGenerator rng(quint32(blocks * 16 + offset));
        const QByteArray bytes = randomBytes(rng, offset + 64 * blocks);
        const auto *in = reinterpret_cast<const unsigned char *>(bytes.constData()) + offset;
        SZ_INT reg256[8], ext256[8], reg1[6], ext1[6];
        randomWords(rng, reg256, 8);
        randomWords(rng, reg1, 6);
        std::memcpy(ext256, reg256, sizeof reg256);
        std::memcpy(ext1, reg1, sizeof reg1);
        for (int b = 0; b < blocks; ++b) {
            SZ_INT words[64];
            for (int i = 0; i < 16; ++i) {
                const unsigned char *p = in + 64 * b + 4 * i;
                words[i] = SZ_INT(quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]);
            }
            Sha1Calc_calcBlock(words, reg1);
            Sha256Calc_calcBlock(words, reg256);
        }
        ShaExtCalc_sha256Blocks(ext256, in, size_t(blocks));
        ShaExtCalc_sha1Blocks(ext1, in, size_t(blocks));
        QVERIFY(std::memcmp(ext256, reg256, sizeof reg256) == 0);
        QVERIFY(std::memcmp(ext1, reg1, sizeof reg1) == 0); // the sixth word left alone on both
    }
};

QTEST_APPLESS_MAIN(DigestPathsTest)
#include "digestpathstest.moc"
