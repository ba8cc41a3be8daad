#include "framewriter.h"
#include "zelkoframereport.h"
#include "zelkoqtroot.h"

#include <QtTest>

// The decoding pass by itself: the size fields that let a reader tell a frame
// the client tolerates from one that keeps the layout exactly, and the reason
// texts behind each failure.
class ZelkoFrameReportTest : public QObject
{
    Q_OBJECT
private slots:
    void sizeFields_data();
    void sizeFields();
    void failureTexts_data();
    void failureTexts();
};

void ZelkoFrameReportTest::sizeFields_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<qint64>("frameBytesRead");
    QTest::addColumn<qint64>("contentBytes");
    QTest::addColumn<qint64>("contentBytesRead");
    QTest::addColumn<qint64>("jsonLen");
    QTest::addColumn<qint64>("jsonBytes");

    FrameWriter::Frame f;
    f.serviceType = 1;
    f.json = "{\"a\":1}"; // 7 bytes; plain content: flag, length, text = 12
    QTest::newRow("exact") << FrameWriter::encode(f) << qint64(14 + 12) << qint64(12) << qint64(12)
                           << qint64(7) << qint64(7);

    FrameWriter::Frame trailing = f;
    trailing.trailing = "xyz";
    QTest::newRow("bytes after the content")
        << FrameWriter::encode(trailing) << qint64(26) << qint64(12) << qint64(12) << qint64(7) << qint64(7);

    FrameWriter::Frame longJson = f;
    longJson.jsonLen = 100;
    QTest::newRow("JSON declared past the content") << FrameWriter::encode(longJson) << qint64(26)
                                                    << qint64(12) << qint64(12) << qint64(100) << qint64(7);

    FrameWriter::Frame shortJson = f;
    shortJson.jsonLen = 3;
    QTest::newRow("content goes on after the JSON")
        << FrameWriter::encode(shortJson) << qint64(26) << qint64(12) << qint64(8) << qint64(3) << qint64(3);

    FrameWriter::Frame packed = f;
    packed.compressFlag = FrameWriter::Zlib;
    packed.hasResources = true;
    packed.resources = {FrameWriter::Resource{"a", 1, "png"}};
    const QByteArray packedBytes = FrameWriter::encode(packed);
    // flag, dataLen, resCount, entry (1 + 1 + 1 + 4 + 3), JSON (4 + 7)
    QTest::newRow("compressed, one resource")
        << packedBytes << qint64(packedBytes.size()) << qint64(30) << qint64(30) << qint64(7) << qint64(7);

    FrameWriter::Frame refused;
    refused.serviceType = 1;
    refused.errorCode = 4;
    QTest::newRow("service error: header read to the error byte")
        << FrameWriter::encode(refused) << qint64(9) << qint64(-1) << qint64(-1) << qint64(-1) << qint64(-1);
}

void ZelkoFrameReportTest::sizeFields()
{
    QFETCH(QByteArray, frame);
    QFETCH(qint64, frameBytesRead);
    QFETCH(qint64, contentBytes);
    QFETCH(qint64, contentBytesRead);
    QFETCH(qint64, jsonLen);
    QFETCH(qint64, jsonBytes);

    const ZelkoFrameReport report = ZelkoFrameReport::decode(frame);
    QCOMPARE(report.frameBytesRead, frameBytesRead);
    QCOMPARE(report.contentBytes, contentBytes);
    QCOMPARE(report.contentBytesRead, contentBytesRead);
    QCOMPARE(report.jsonLen, jsonLen);
    QCOMPARE(report.jsonBytes, jsonBytes);
    QCOMPARE(report.json.toUtf8().size(), int(qMax<qint64>(jsonBytes, 0)));
    // The pass keeps what it read to itself: no cache is made on the way.
    QVERIFY(!ZelkoQtRoot::exists());
}

void ZelkoFrameReportTest::failureTexts_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("text");

    FrameWriter::Frame f;
    f.serviceType = 1;
    f.json = "{}";
    auto changed = [&f](auto change) {
        FrameWriter::Frame g = f;
        change(g);
        return FrameWriter::encode(g);
    };
    using R = ZelkoFrameReport;
    QTest::newRow("decoded") << FrameWriter::encode(f) << int(R::NoFailure) << QString();
    QTest::newRow("too short") << FrameWriter::encode(f).left(9) << int(R::BufferTooShort)
                               << "Buffer size is too short";
    QTest::newRow("head") << changed([](FrameWriter::Frame &g) { g.head = 1; }) << int(R::HeadInvalid)
                          << "Data head invalid";
    QTest::newRow("service error") << changed([](FrameWriter::Frame &g) { g.errorCode = 200; })
                                   << int(R::ServiceError) << "Service error code :200";
    QTest::newRow("compress flag") << changed([](FrameWriter::Frame &g) { g.compressFlag = 1; })
                                   << int(R::CompressFlagInvalid) << "Compress flag invalid";
    QTest::newRow("no content") << FrameWriter::encode(f).left(14) << int(R::ContentDataError)
                                << "Content Data error";
}

void ZelkoFrameReportTest::failureTexts()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, failure);
    QFETCH(QString, text);

    const ZelkoFrameReport report = ZelkoFrameReport::decode(frame);
    QCOMPARE(int(report.failure), failure);
    QCOMPARE(report.ok(), text.isEmpty());
    QCOMPARE(report.failureText(), text);
}

QTEST_GUILESS_MAIN(ZelkoFrameReportTest)
#include "zelkoframereporttest.moc"
