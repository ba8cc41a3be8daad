#include <QtTest>

#include <climits>

#include "decompressmethods.h"
#include "streammethods.h"
#include "zelkoencrypt.h"
#include "zelkoscramble_p.h"

// Expected values were computed outside this code with Python 3's hashlib and
// zlib.crc32 from the written rules: key = hex(sha1hex(KEY)); signature =
// md5hex(upper(sha1hex(md5hex(KEY))) + md5hex(utf8(str))); parameter bytes
// ((b ^ 0x5A) + utf8key[i % len] + len) & 0xFF; code bytes
// ((b ^ 0x5A) + latin1key[i % len]) & 0xFF with "?" above U+00FF, each
// prefixed by the CRC-32 of the scrambled bytes in its own byte order.

namespace {
QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}
} // namespace

class ZelkoEncryptTest : public QObject
{
    Q_OBJECT
private slots:
    void key();
    void encryptString_data();
    void encryptString();
    void encryptParam_data();
    void encryptParam();
    void crc32_data();
    void crc32();
    void codeEncrypt_data();
    void codeEncrypt();
    void edPositions_data();
    void edPositions();
};

void ZelkoEncryptTest::key()
{
    ZelkoEncrypt enc;
    const QString expected = "31396630376134393233353061333763"
                             "37623636346134653031396539373466"
                             "3238346238346366";
    QCOMPARE(enc.zelkoLib_getKey(), expected);
    QCOMPARE(enc.zelkoLib_getKey(), expected);
}

void ZelkoEncryptTest::encryptString_data()
{
    QTest::addColumn<QString>("str");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << "c03f3ce0f54e392a7fb8bb812852b11c";
    QTest::newRow("abc") << "abc"
                         << "db5686dd16ca88a7685ae816b3d3abc3";
    // Same text, different normalisation: different UTF-8, different signature.
    QTest::newRow("composed") << u("caf\xc3\xa9") << "f6236a5f1f334bb460cf2a97c41e3dac";
    QTest::newRow("decomposed") << u("cafe\xcc\x81") << "67cc3333c454aaad5dc5ee137b940807";
}

void ZelkoEncryptTest::encryptString()
{
    QFETCH(QString, str);
    QFETCH(QString, expected);
    QCOMPARE(ZelkoEncrypt().zelkoLib_getEncryptString(str), expected);
}

void ZelkoEncryptTest::encryptParam_data()
{
    QTest::addColumn<QString>("str");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty str") << QString() << "k"
                               << "00000000";
    QTest::newRow("empty str and key") << QString() << QString() << "00000000";
    QTest::newRow("one letter") << "a"
                                << "k"
                                << "c69ab0d9a7";
    // CRC 0x07a2130f: bytes low, highest, second, third highest.
    QTest::newRow("key repeats") << "hello"
                                 << "ab"
                                 << "0f07a21395a3999a98";
    QTest::newRow("key longer than str") << "hi"
                                         << "longerkey"
                                         << "b1e19b42a7ab";
    QTest::newRow("three-byte char") << u("\xe2\x82\xac") << "x"
                                     << "69a4454631516f";
    QTest::newRow("utf8 key bytes and length") << u("x\xc3\xa9") << u("\xc3\xa9") << "880243aee744b8";
    QTest::newRow("empty key adds nothing") << "abc" << QString() << "909fe5e73b3839";
    QTest::newRow("query") << "query=1&p=2"
                           << "secret"
                           << "7f7c79baa49aa8a08ee1e4e793dfd3";
}

void ZelkoEncryptTest::encryptParam()
{
    QFETCH(QString, str);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QString got = ZelkoEncrypt().zelkoLib_getEncryptParam(str, key);
    QCOMPARE(got, expected);
    QCOMPARE(got.size(), 8 + 2 * str.toUtf8().size());
}

// Both ways in: the bytes' checksum (StreamMethods), and a text's, of its UTF-8, as the
// signed int QML gets.
void ZelkoEncryptTest::crc32_data()
{
    QTest::addColumn<QString>("str");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("empty") << QString() << 0u;
    QTest::newRow("abc") << "abc" << 0x352441c2u;
    QTest::newRow("a, top bit set") << "a" << 0xe8b7be43u;
    QTest::newRow("utf8") << u("\xc3\xa9") << 235179326u;
}

void ZelkoEncryptTest::crc32()
{
    QFETCH(QString, str);
    QFETCH(quint32, expected);
    QCOMPARE(quint32(StreamMethods::getCrc32(str.toUtf8())), expected);
    QCOMPARE(ZelkoEncrypt().zelkoLib_getCrc32(str), int(expected));
}

void ZelkoEncryptTest::codeEncrypt_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty code") << QString() << "k"
                                << "00000000";
    QTest::newRow("empty code and key") << QString() << QString() << "00000000";
    QTest::newRow("one letter") << "a"
                                << "k"
                                << "50ede9b7a6";
    QTest::newRow("two-byte char") << u("\xc3\xa9") << "k"
                                   << "08a9ab66045e";
    // CRC 0xfdfb4cab: bytes low, highest, third, second highest.
    QTest::newRow("key repeats") << "hello"
                                 << "ab"
                                 << "abfd4cfb93a1979896";
    QTest::newRow("key above latin1") << "hello"
                                      << u("a\xe2\x82\xac"
                                           "b")
                                      << "c2413d0c937e989774";
    QTest::newRow("key with question mark") << "hello"
                                            << "a?b"
                                            << "c2413d0c937e989774";
    QTest::newRow("key latin1 byte") << "hi" << u("\xc3\xbf") << "cd4f44533132";
    // Two UTF-16 code units, so two "?" bytes and a key length of 2.
    QTest::newRow("key outside BMP") << "hello" << u("\xf0\x9f\x98\x80") << "e0de7b6a717e757574";
    QTest::newRow("empty key adds nothing") << "abc" << QString() << "909fe7e53b3839";
    QTest::newRow("query") << "query=1&p=2"
                           << "secret"
                           << "ea9ba6709e94a29a88dbdee18dd9cd";
}

void ZelkoEncryptTest::codeEncrypt()
{
    QFETCH(QString, code);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QString got = DecompressMethods::ZelkoEncrypt(code, key);
    QCOMPARE(got, expected);
    QCOMPARE(got.size(), 8 + 2 * code.toUtf8().size());
}

void ZelkoEncryptTest::edPositions_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("expected");
    auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    QTest::newRow("whole") << hex("0102") << "k" << 0 << 2 << hex("c6c3");
    QTest::newRow("key counts from start") << hex("01020304") << "ab" << 1 << 2 << hex("00b9bb");
    QTest::newRow("missing input is zero") << hex("01") << "ab" << 0 << 3 << hex("bcbcbb");
    // A view into a larger buffer: the byte after its end is not part of the input.
    QTest::newRow("input viewed in a larger buffer")
        << QByteArray::fromRawData("\x01\xee", 1) << "ab" << 0 << 2 << hex("bcbc");
    QTest::newRow("unwritten positions zero") << hex("01020304") << "ab" << 3 << 2 << hex("000000bfbc");
    QTest::newRow("length zero") << hex("0102") << "k" << 5 << 0 << QByteArray();
    QTest::newRow("negative length") << hex("0102") << "k" << 0 << -3 << QByteArray();
    // Positions before 0 are skipped, not written: the key still counts from the start, and
    // the tail of the result that no position reaches stays zero.
    QTest::newRow("negative start") << hex("01020304") << "ab" << -2 << 5 << hex("bcbaba0000");
    QTest::newRow("range wholly negative") << hex("0102") << "k" << -5 << 3 << hex("000000");
    QTest::newRow("range ends at 0") << hex("0102") << "k" << -3 << 4 << hex("c6000000");
    QTest::newRow("lowest start") << hex("0102") << "k" << INT_MIN << 2 << hex("0000");
    QTest::newRow("negative start and length") << hex("0102") << "k" << -2 << -2 << QByteArray();
    QTest::newRow("empty key") << hex("0102") << QString() << 0 << 2 << hex("5b58");
}

void ZelkoEncryptTest::edPositions()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, key);
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(QByteArray, expected);
    QCOMPARE(ZelkoScramble::ed(data, key, start, length).toHex(), expected.toHex());
}

QTEST_APPLESS_MAIN(ZelkoEncryptTest)
#include "zelkoencrypttest.moc"
