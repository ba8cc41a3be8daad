#include <QtTest>
#include <QBuffer>

#include <new>

#include "addressspacecap.h"
#include "streammethods.h"

namespace {

QVariant I(qint64 v)
{
    return QVariant::fromValue<qint64>(v);
}
QVariant S(const QString &s)
{
    return QVariant(s);
}
QVariant B(const char *hex)
{
    return QVariant(QByteArray::fromHex(hex));
}

// Runs one reader by name: int1/int2/int4, str1/str2/str4, bytes4, or n:<length>.
QVariant runReader(const QString &reader, QBuffer *buffer)
{
    if (reader == "int1")
        return I(StreamMethods::getIntFromB(buffer));
    if (reader == "int2")
        return I(StreamMethods::getIntFrom2B(buffer));
    if (reader == "int4")
        return I(StreamMethods::getIntFrom4B(buffer));
    if (reader == "str1")
        return S(StreamMethods::getStrFromB(buffer));
    if (reader == "str2")
        return S(StreamMethods::getStrFrom2B(buffer));
    if (reader == "str4")
        return S(StreamMethods::getStrFrom4B(buffer));
    if (reader == "bytes4")
        return QVariant(StreamMethods::getByteArrayFrom4B(buffer));
    if (reader.startsWith("n:"))
        return QVariant(StreamMethods::getNBytesFromBuffer(buffer, reader.mid(2).toLongLong()));
    qFatal("unknown reader %s", qPrintable(reader));
    return QVariant();
}

} // namespace

class StreamMethodsTest : public QObject
{
    Q_OBJECT
private slots:
    void readers_data();
    void readers();
    void hugeLengthCostsOnlyWhatRemains_data();
    void hugeLengthCostsOnlyWhatRemains();
    void emptyResultsNullOrNot_data();
    void emptyResultsNullOrNot();
};

void StreamMethodsTest::readers_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("readers");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QList<int>>("positions");

    auto row = [](const char *name, const char *hex, const QStringList &readers, const QVariantList &values,
                  const QList<int> &positions) {
        QTest::newRow(name) << QByteArray::fromHex(hex) << readers << values << positions;
    };

    // Integers: little-endian, unsigned, cut short from the high end.
    row("int4", "01020304", {"int4"}, {I(67305985)}, {4});
    row("int4 short", "0102", {"int4"}, {I(513)}, {2});
    row("int4 all ones unsigned", "ffffffff", {"int4"}, {I(4294967295LL)}, {4});
    row("int2", "3412", {"int2"}, {I(4660)}, {2});
    row("int2 short", "ff", {"int2"}, {I(255)}, {1});
    row("int1 at end", "7f", {"int1", "int1"}, {I(127), I(0)}, {1, 1});
    row("every reader at end", "01020304",
        {"int4", "int1", "int2", "int4", "str1", "str2", "str4", "bytes4", "n:5"},
        {I(67305985), I(0), I(0), I(0), S(""), S(""), S(""), B(""), B("")}, {4, 4, 4, 4, 4, 4, 4, 4, 4});

    // 1- and 2-byte strings: Latin-1, cut before the first zero, zero and tail consumed.
    row("str1 zero cut", "0361006262", {"str1", "int1"}, {S("a"), I(0x62)}, {4, 5});
    row("str1 empty", "0041", {"str1", "int1"}, {S(""), I(0x41)}, {1, 2});
    row("str1 beyond data", "054142", {"str1"}, {S("AB")}, {3});
    row("str1 latin1", "02e9ff", {"str1"}, {S(QString::fromUtf8("\xc3\xa9\xc3\xbf"))}, {3});
    row("str2 utf8 bytes as latin1", "0200c3a9", {"str2"}, {S(QString::fromUtf8("\xc3\x83\xc2\xa9"))}, {4});
    row("str2 zero cut", "0300004142", {"str2"}, {S("")}, {5});
    row("str2 length cut short", "05", {"str2", "int1"}, {S(""), I(0)}, {1, 1});

    // 4-byte strings: UTF-8, zero bytes kept, malformed input replaced.
    row("str4 utf8", "02000000c3a9", {"str4"}, {S(QString(QChar(0xe9)))}, {6});
    row("str4 beyond data", "05000000414243", {"str4"}, {S("ABC")}, {7});
    row("str4 keeps zeros", "03000000410042", {"str4"}, {S(QString::fromLatin1("A\0B", 3))}, {7});
    row("str4 malformed", "01000000ff41", {"str4", "int1"}, {S(QString(QChar(0xfffd))), I(0x41)}, {5, 6});
    row("str4 length cut short", "0300", {"str4"}, {S("")}, {2});

    // Byte blocks.
    row("bytes4 empty", "0000000041", {"bytes4", "int1"}, {B(""), I(0x41)}, {4, 5});
    row("bytes4", "03000000000102ff", {"bytes4", "int1"}, {B("000102"), I(0xff)}, {7, 8});
    row("bytes4 beyond data", "ffffffff0102", {"bytes4"}, {B("0102")}, {6});
    row("n bytes", "010203", {"n:2", "n:2", "n:2"}, {B("0102"), B("03"), B("")}, {2, 3, 3});
    row("n zero and negative", "0102", {"n:0", "n:-1", "int2"}, {B(""), B(""), I(0x0201)}, {0, 0, 2});

    row("mixed sequence", "03616263341202000000aabb", {"str1", "int2", "bytes4"},
        {S("abc"), I(4660), B("aabb")}, {4, 6, 12});
}

void StreamMethodsTest::readers()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, readers);
    QFETCH(QVariantList, values);
    QFETCH(QList<int>, positions);
    QCOMPARE(values.size(), readers.size());
    QCOMPARE(positions.size(), readers.size());

    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    for (int i = 0; i < readers.size(); ++i) {
        const QVariant got = runReader(readers.at(i), &buffer);
        // QTest::toString hands over a new[] buffer: only made for a failure, and freed.
        if (got != values.at(i)) {
            const QScopedArrayPointer<char> text(QTest::toString(got));
            QFAIL(qPrintable(QString("%1: got %2").arg(readers.at(i), QString::fromUtf8(text.data()))));
        }
        QCOMPARE(buffer.pos(), qint64(positions.at(i)));
    }
}

void StreamMethodsTest::hugeLengthCostsOnlyWhatRemains_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QVariant>("expected");

    const char *ten = "00112233445566778899";
    QTest::newRow("bytes4") << QByteArray::fromHex(QByteArray("ffffffff") + ten) << "bytes4" << B(ten);
    QTest::newRow("str4") << QByteArray::fromHex(QByteArray("ffffffff") + "41424344454647484950") << "str4"
                          << S("ABCDEFGHIP");
    QTest::newRow("n bytes") << QByteArray::fromHex(ten) << "n:4294967295" << B(ten);
}

void StreamMethodsTest::hugeLengthCostsOnlyWhatRemains()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, reader);
    QFETCH(QVariant, expected);

    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QVariant got;
    {
        // Room for ordinary work, far too little for a reservation of gigabytes.
        AddressSpaceCap cap(256 * 1024 * 1024);
        try {
            got = runReader(reader, &buffer);
        } catch (const std::bad_alloc &) {
            QFAIL("the reader reserved storage for the declared length");
        }
    }
    QCOMPARE(got, expected);
    QCOMPARE(buffer.pos(), qint64(input.size()));
}

void StreamMethodsTest::emptyResultsNullOrNot_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<bool>("null");

    // A string whose length field is 0 (or absent) is null; one that announces bytes it
    // cannot have is empty but not null. A length-prefixed block is null whenever empty.
    QTest::newRow("str1 length 0") << QByteArray::fromHex("00") << "str1" << true;
    QTest::newRow("str1 bytes missing") << QByteArray::fromHex("02") << "str1" << false;
    QTest::newRow("str2 at end") << QByteArray() << "str2" << true;
    QTest::newRow("str2 bytes missing") << QByteArray::fromHex("0500") << "str2" << false;
    QTest::newRow("str4 length 0") << QByteArray::fromHex("00000000") << "str4" << true;
    QTest::newRow("str4 bytes missing") << QByteArray::fromHex("05000000") << "str4" << false;
    QTest::newRow("bytes4 length 0") << QByteArray::fromHex("0000000041") << "bytes4" << true;
    QTest::newRow("bytes4 bytes missing") << QByteArray::fromHex("05000000") << "bytes4" << true;
}

void StreamMethodsTest::emptyResultsNullOrNot()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, reader);
    QFETCH(bool, null);

    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const QVariant got = runReader(reader, &buffer);
    QVERIFY(got.toByteArray().isEmpty());
    if (got.userType() == QMetaType::QString)
        QCOMPARE(got.toString().isNull(), null);
    else
        QCOMPARE(got.toByteArray().isNull(), null);
}

QTEST_APPLESS_MAIN(StreamMethodsTest)
#include "streammethodstest.moc"
