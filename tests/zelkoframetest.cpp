#include "framewriter.h"
#include "processrun.h"
#include "referenceservice.h"
#include "testframes.h"
#include "testimages.h"
#include "zelkoqtroot.h"
#include "zelkoframereport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QtTest>

// The zelko-frame program, run as a user would: frames from files and standard
// input, its text and JSON reports, resource extraction and exit codes.
class ZelkoFrameTest : public QObject
{
    Q_OBJECT
private slots:
    void decodesTestFrames_data();
    void decodesTestFrames();
    void textReport_data();
    void textReport();
    void jsonReport_data();
    void jsonReport();
    void standardInput_data();
    void standardInput();
    void extractHostileIds_data();
    void extractHostileIds();
    void extractWritesEveryEntry();
    void extractNamesFilesByContent();
    void reportsWhatTheFrameLacks_data();
    void reportsWhatTheFrameLacks();
    void signedQueriesReachTheService_data();
    void signedQueriesReachTheService();
    void usageErrors_data();
    void usageErrors();
    void documentedExample();

private:
    QTemporaryDir m_dir;
};

using Resources = QList<TestFrames::Resource>;
Q_DECLARE_METATYPE(Resources)

namespace {

using Run = ProcessRun;

Run runTool(const QStringList &args, const QByteArray &input = QByteArray())
{
    ProcessRun::Options options;
    options.input = input;
    return ProcessRun::of(QStringLiteral(ZELKO_FRAME_TOOL), args, options);
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

// The tool run on the bytes as a file named last on its command line; an unwritable file is a
// run that did not happen (exit code -1).
Run runOnFile(QStringList args, const QByteArray &bytes, const QString &name = QStringLiteral("frame.bin"))
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, name, bytes);
    return path.isEmpty() ? Run() : runTool(args << path);
}

// Compressed "[]" whose header declares 99 bytes: the stream decides, not the declared length.
QByteArray wrongLengthFrame()
{
    FrameWriter::Frame z;
    z.serviceType = 2;
    z.compressFlag = FrameWriter::Zlib;
    z.json = "[]";
    z.originalLen = 99;
    return FrameWriter::encode(z);
}

int exitCodeOf(const QString &failure)
{
    static const QList<QPair<QString, int>> codes = {{"", 0},
                                                     {"Buffer size is too short", 2},
                                                     {"Data head invalid", 3},
                                                     {"Service error code :", 4},
                                                     {"Compress flag invalid", 5},
                                                     {"Content Data error", 6}};
    for (const auto &c : codes) {
        if (failure == c.first || (c.second == 4 && failure.startsWith(c.first)))
            return c.second;
    }
    return 7;
}

QJsonValue orNull(bool reached, double value)
{
    return reached ? QJsonValue(value) : QJsonValue();
}

} // namespace

void ZelkoFrameTest::decodesTestFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<qint64>("serviceType");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QString>("json");
    QTest::addColumn<Resources>("resources");
    for (const TestFrames::Frame &f : TestFrames::all()) {
        QTest::newRow(qPrintable(f.name))
            << f.bytes << f.failure << f.serviceType << f.errorCode << f.json << f.resources;
    }
}

void ZelkoFrameTest::decodesTestFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, failure);
    QFETCH(qint64, serviceType);
    QFETCH(int, errorCode);
    QFETCH(QString, json);
    QFETCH(Resources, resources);

    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("frame.bin"), frame);
    QVERIFY(!path.isEmpty());
    const QString extractDir = dir.filePath(QStringLiteral("out"));
    const Run run = runTool({QStringLiteral("--json"), QStringLiteral("--extract"), extractDir, path});
    QCOMPARE(run.exitCode, exitCodeOf(failure));
    QJsonParseError parseError;
    const QJsonObject o = QJsonDocument::fromJson(run.out, &parseError).object();
    QVERIFY2(parseError.error == QJsonParseError::NoError, run.out.constData());

    // What the row states of the frame.
    QCOMPARE(o.value("frameBytes"), QJsonValue(frame.size()));
    QCOMPARE(o.value("failure"), failure.isEmpty() ? QJsonValue() : QJsonValue(failure));
    QCOMPARE(o.value("serviceType"), orNull(serviceType >= 0, serviceType));
    QCOMPARE(o.value("errorCode"), orNull(errorCode >= 0, errorCode));
    QCOMPARE(o.value("json"), json.isNull() ? QJsonValue() : QJsonValue(json));
    const QJsonArray listed = o.value("resources").toArray();
    QCOMPARE(listed.size(), resources.size());
    for (int i = 0; i < resources.size(); ++i) {
        const QJsonObject r = listed.at(i).toObject();
        QCOMPARE(r.value("id").toString(), resources.at(i).id);
        QCOMPARE(r.value("type").toInt(), resources.at(i).type);
        QCOMPARE(r.value("size").toInt(), resources.at(i).data.size());
        const QJsonObject image = r.value("image").toObject();
        const QString seen = image.isEmpty() ? QString()
                                             : QStringLiteral("%1 %2x%3")
                                                   .arg(image.value("format").toString())
                                                   .arg(image.value("width").toInt())
                                                   .arg(image.value("height").toInt());
        QCOMPARE(seen, resources.at(i).image);
        QFile extracted(r.value("file").toString());
        QVERIFY2(extracted.open(QIODevice::ReadOnly), qPrintable(extracted.fileName()));
        QCOMPARE(extracted.readAll(), resources.at(i).data);
    }
    if (!failure.isEmpty())
        QCOMPARE(run.err, "zelko-frame: " + failure.toUtf8() + '\n');
    else
        QCOMPARE(run.err, QByteArray());
}

// The whole JSON report of a few frames, as a reader's script would get it. %1: the frame's
// size; %2: its size less the 14 bytes of a plain header.
void ZelkoFrameTest::jsonReport_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("expected");
    FrameWriter::Frame f;
    f.serviceType = 3;
    f.hasResources = true;
    f.resources = {FrameWriter::Resource{"r/1", 4, "abc"}};
    f.json = "{\"a\":1}";
    QTest::newRow("plain, one resource that is no image")
        << FrameWriter::encode(f)
        << R"({"compressFlag":0,"compressed":false,"compressedBytes":null,"compressedLength":null,"contentBytes":%2,
             "contentCut":false,"declaredResources":1,"errorCode":0,"failure":null,"frameBytes":%1,"head":0,
             "json":"{\"a\":1}","jsonValid":true,"originalLength":%2,"resourceFlag":1,
             "resources":[{"id":"r/1","image":null,"size":3,"type":4}],"serviceType":3})";
    const QByteArray packed = wrongLengthFrame();
    QTest::newRow("compressed, wrong declared length")
        << packed
        << QStringLiteral(R"({"compressFlag":2,"compressed":true,"compressedBytes":%3,"compressedLength":%3,
             "contentBytes":7,"contentCut":false,"declaredResources":null,"errorCode":0,"failure":null,
             "frameBytes":%1,"head":0,"json":"[]","jsonValid":true,"originalLength":99,"resourceFlag":0,
             "resources":[],"serviceType":2})")
               .replace(QLatin1String("%3"), QString::number(packed.size() - 18));
    QTest::newRow("head invalid")
        << QByteArray::fromHex("02000000070000000000")
        << R"({"compressFlag":null,"compressed":null,"compressedBytes":null,"compressedLength":null,
             "contentBytes":null,"contentCut":null,"declaredResources":null,"errorCode":null,
             "failure":"Data head invalid","frameBytes":10,"head":2,"json":null,"jsonValid":null,
             "originalLength":null,"resourceFlag":null,"resources":[],"serviceType":null})";
    QTest::newRow("compress flag 3")
        << QByteArray::fromHex("0000000001000000000302000000")
        << R"({"compressFlag":3,"compressed":false,"compressedBytes":null,"compressedLength":null,
             "contentBytes":null,"contentCut":null,"declaredResources":null,"errorCode":0,
             "failure":"Compress flag invalid","frameBytes":14,"head":0,"json":null,"jsonValid":null,
             "originalLength":2,"resourceFlag":null,"resources":[],"serviceType":1})";
}

void ZelkoFrameTest::jsonReport()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, expected);
    const Run run = runOnFile({QStringLiteral("--json")}, frame);
    const QString filled = QString(expected)
                               .replace(QLatin1String("%1"), QString::number(frame.size()))
                               .replace(QLatin1String("%2"), QString::number(frame.size() - 14));
    const QJsonDocument want = QJsonDocument::fromJson(filled.toUtf8());
    QVERIFY2(!want.isNull(), qPrintable(filled));
    QCOMPARE(QJsonDocument::fromJson(run.out), want);
}

void ZelkoFrameTest::textReport_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected");

    using FrameWriter::le32;
    FrameWriter::Frame f;
    f.serviceType = 12;
    f.hasResources = true;
    f.resources = {FrameWriter::Resource{"logo\n\"x\"", 4, "abc"}};
    f.json = "{\"b\":[1,{},[]],\"a\":{\"s\":\"x,{y}:\\\"\"},\"n\":123456789012345678901}";
    const QByteArray withResource = FrameWriter::encode(f);
    QTest::newRow("plain, one resource, key order and big number kept")
        << withResource << 0
        << QStringLiteral("frame:           %1 bytes\n"
                          "head:            0\n"
                          "service type:    12\n"
                          "error code:      0\n"
                          "compress flag:   0 (plain)\n"
                          "original length: %2\n"
                          "content:         %2 bytes\n"
                          "resource flag:   1\n"
                          "resources:       1\n"
                          "  \"logo\\x0a\\\"x\\\"\"  type 4  3 bytes\n"
                          "json:\n"
                          "{\n"
                          "    \"b\": [\n"
                          "        1,\n"
                          "        {},\n"
                          "        []\n"
                          "    ],\n"
                          "    \"a\": {\n"
                          "        \"s\": \"x,{y}:\\\"\"\n"
                          "    },\n"
                          "    \"n\": 123456789012345678901\n"
                          "}\n"
                          "result:          ok\n")
               .arg(withResource.size())
               .arg(withResource.size() - 14);

    const QByteArray packed = wrongLengthFrame();
    const int packedLen = packed.size() - 18;
    QTest::newRow("compressed, wrong declared length")
        << packed << 0
        << QStringLiteral("frame:           %1 bytes\n"
                          "head:            0\n"
                          "service type:    2\n"
                          "error code:      0\n"
                          "compress flag:   2 (zlib)\n"
                          "original length: 99\n"
                          "compressed len:  %2 (%2 bytes present)\n"
                          "content:         7 bytes\n"
                          "resource flag:   0\n"
                          "json:\n"
                          "[]\n"
                          "result:          ok\n")
               .arg(packed.size())
               .arg(packedLen);

    FrameWriter::Frame notJson;
    notJson.json = "not json {";
    QTest::newRow("json text that is not json") << FrameWriter::encode(notJson) << 0
                                                << QStringLiteral("frame:           29 bytes\n"
                                                                  "head:            0\n"
                                                                  "service type:    0\n"
                                                                  "error code:      0\n"
                                                                  "compress flag:   0 (plain)\n"
                                                                  "original length: 15\n"
                                                                  "content:         15 bytes\n"
                                                                  "resource flag:   0\n"
                                                                  "json (not valid):\n"
                                                                  "not json {\n"
                                                                  "result:          ok\n");
    QTest::newRow("empty json text") << TestFrames::named(QStringLiteral("content of 3 bytes")).bytes << 0
                                     << QStringLiteral("frame:           17 bytes\n"
                                                       "head:            0\n"
                                                       "service type:    3\n"
                                                       "error code:      0\n"
                                                       "compress flag:   0 (plain)\n"
                                                       "original length: 3\n"
                                                       "content:         3 bytes\n"
                                                       "resource flag:   1\n"
                                                       "resources:       0\n"
                                                       "json:            (empty)\n"
                                                       "result:          ok\n");
    QTest::newRow("short") << QByteArray::fromHex("0000000007") << 2
                           << QStringLiteral("frame:           5 bytes\n"
                                             "result:          Buffer size is too short\n");
    QTest::newRow("head") << QByteArray::fromHex("02000000070000000000") << 3
                          << QStringLiteral("frame:           10 bytes\n"
                                            "head:            2\n"
                                            "result:          Data head invalid\n");
    QTest::newRow("service error") << FrameWriter::serviceError(4294967295u, 17) << 4
                                   << QStringLiteral("frame:           14 bytes\n"
                                                     "head:            0\n"
                                                     "service type:    4294967295\n"
                                                     "error code:      17\n"
                                                     "result:          Service error code :17\n");
    QTest::newRow("compress flag 3") << QByteArray::fromHex("0000000001000000000302000000") << 5
                                     << QStringLiteral("frame:           14 bytes\n"
                                                       "head:            0\n"
                                                       "service type:    1\n"
                                                       "error code:      0\n"
                                                       "compress flag:   3 (invalid)\n"
                                                       "original length: 2\n"
                                                       "result:          Compress flag invalid\n");
    QTest::newRow("empty content") << QByteArray::fromHex("0000000001000000000000000000") << 6
                                   << QStringLiteral("frame:           14 bytes\n"
                                                     "head:            0\n"
                                                     "service type:    1\n"
                                                     "error code:      0\n"
                                                     "compress flag:   0 (plain)\n"
                                                     "original length: 0\n"
                                                     "content:         0 bytes\n"
                                                     "result:          Content Data error\n");
}

void ZelkoFrameTest::textReport()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    const Run run = runOnFile({}, frame);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(QString::fromUtf8(run.out), expected);
}

void ZelkoFrameTest::standardInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("exitCode");
    const QByteArray images = TestFrames::named(QStringLiteral("qml images answer")).bytes;
    const QByteArray cut = TestFrames::named(QStringLiteral("compressed stream cut short")).bytes;
    QTest::newRow("no argument") << QStringList() << images << 0;
    QTest::newRow("dash") << QStringList{"-"} << images << 0;
    QTest::newRow("dash, json") << QStringList{"--json", "-"} << images << 0;
    QTest::newRow("no argument, failing frame") << QStringList{"--json"} << cut << 6;
    QTest::newRow("empty input") << QStringList() << QByteArray() << 2;
}

void ZelkoFrameTest::standardInput()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, frame);
    QFETCH(int, exitCode);
    // The same frame from a file is the reference.
    QStringList fileArgs = args;
    fileArgs.removeAll(QStringLiteral("-"));
    const Run fromFile = runOnFile(fileArgs, frame);
    const Run fromStdin = runTool(args, frame);
    QCOMPARE(fromStdin.exitCode, exitCode);
    QCOMPARE(fromFile.exitCode, exitCode);
    QVERIFY(!fromStdin.out.isEmpty());
    QCOMPARE(fromStdin.out, fromFile.out);
}

void ZelkoFrameTest::extractHostileIds_data()
{
    QTest::addColumn<QByteArrayList>("ids");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("parent dirs") << QByteArrayList{"../../x"} << QStringList{"_.._.._x"};
    QTest::newRow("absolute") << QByteArrayList{"/etc/passwd"} << QStringList{"_etc_passwd"};
    QTest::newRow("dot and dot-dot") << QByteArrayList{".", ".."} << QStringList{"_.", "_.."};
    QTest::newRow("hidden") << QByteArrayList{".profile"} << QStringList{"_.profile"};
    QTest::newRow("empty") << QByteArrayList{""} << QStringList{"_"};
    QTest::newRow("backslash and controls") << QByteArrayList{"a\\b\r\n\t"} << QStringList{"a_b___"};
    QTest::newRow("latin-1") << QByteArrayList{"caf\xe9"} << QStringList{"caf_"};
    QTest::newRow("collisions") << QByteArrayList{"a/b", "a_b", "a?b", "a/b"}
                                << QStringList{"a_b", "a_b~2", "a_b~3", "a_b~4"};
    QTest::newRow("longest id") << QByteArrayList{QByteArray(255, 'x')} << QStringList{QString(200, 'x')};
    QTest::newRow("ordinary names kept")
        << QByteArrayList{"icon-1.png", "Thumb_2.JPG"} << QStringList{"icon-1.png", "Thumb_2.JPG"};
}

void ZelkoFrameTest::extractHostileIds()
{
    QFETCH(QByteArrayList, ids);
    QFETCH(QStringList, files);
    FrameWriter::Frame f;
    f.hasResources = true;
    for (int i = 0; i < ids.size(); ++i)
        f.resources.append(FrameWriter::Resource{ids.at(i), 1, QByteArray::number(i)});
    f.json = "{}";

    // The target sits two levels down, so escaping it would show up in the parent listing.
    QTemporaryDir top;
    QVERIFY(QDir(top.path()).mkpath(QStringLiteral("a/out")));
    const QString out = top.filePath(QStringLiteral("a/out"));
    const Run run = runTool({QStringLiteral("--extract"), out, QStringLiteral("-")}, FrameWriter::encode(f));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name), [&] {
        QStringList s = files;
        s.sort();
        return s;
    }());
    QCOMPARE(QDir(top.filePath("a")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"out"});
    QCOMPARE(QDir(top.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"a"});
    for (int i = 0; i < files.size(); ++i) {
        QFile file(QDir(out).filePath(files.at(i)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray::number(i));
        QVERIFY2(run.out.contains("-> " + file.fileName().toUtf8()), run.out.constData());
    }
}

void ZelkoFrameTest::extractWritesEveryEntry()
{
    // More entries than the client's cache holds: extraction goes by the block, not the cache.
    FrameWriter::Frame f;
    f.hasResources = true;
    for (int i = 0; i < 150; ++i)
        f.resources.append(FrameWriter::Resource{"r/" + QByteArray::number(i), 1, QByteArray(i, char(i))});
    f.compressFlag = FrameWriter::Zlib;
    QTemporaryDir top;
    const QString out = top.filePath(QStringLiteral("new"));
    const Run run = runTool({QStringLiteral("--extract"), out}, FrameWriter::encode(f));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QDir(out).entryList(QDir::Files).size(), 150);
    for (int i = 0; i < 150; i += 7) {
        QFile file(QDir(out).filePath(QStringLiteral("r_%1").arg(i)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(i, char(i)));
    }
}

void ZelkoFrameTest::extractNamesFilesByContent()
{
    const QByteArray png = pngBytes(2, 2, Qt::red);
    FrameWriter::Frame f;
    f.hasResources = true;
    f.resources = {FrameWriter::Resource{"thumb", 1, png},
                   FrameWriter::Resource{"photo", 1, QByteArray("\xff\xd8\xff\xe0rest of a jpeg")},
                   FrameWriter::Resource{"anim", 1, QByteArray("GIF89a...")},
                   FrameWriter::Resource{"old", 1, QByteArray("GIF87a...")},
                   FrameWriter::Resource{"logo.PNG", 1, png},
                   FrameWriter::Resource{"thumb", 1, png},
                   FrameWriter::Resource{"notes", 1, QByteArray("\x89PNX not quite")}};
    QTemporaryDir top;
    const QString out = top.filePath(QStringLiteral("res"));
    const Run run = runTool({QStringLiteral("--extract"), out}, FrameWriter::encode(f));
    QCOMPARE(run.exitCode, 0);
    QStringList names = QDir(out).entryList(QDir::Files);
    names.sort();
    QCOMPARE(names, (QStringList{"anim.gif", "logo.png", "notes", "old.gif", "photo.jpg", "thumb.png",
                                 "thumb~2.png"}));
}

void ZelkoFrameTest::reportsWhatTheFrameLacks_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");
    FrameWriter::Frame cut;
    cut.json = "{}";
    cut.originalLen = 100;
    QTest::newRow("plain content shorter than stated")
        << FrameWriter::encode(cut) << "content:         7 bytes (100 stated; the frame ends sooner)"
        << "contentCut" << QJsonValue(true);
    FrameWriter::Frame whole = cut;
    whole.originalLen.reset();
    QTest::newRow("plain content whole") << FrameWriter::encode(whole) << "content:         7 bytes\n"
                                         << "contentCut" << QJsonValue(false);
    FrameWriter::Frame counted;
    counted.hasResources = true;
    counted.resources = {FrameWriter::Resource{"a", 1, "x"}};
    counted.resCount = 3;
    QTest::newRow("fewer resources than declared")
        << FrameWriter::encode(counted) << "resources:       1 (3 declared)"
        << "declaredResources" << QJsonValue(3);
    counted.resCount.reset();
    QTest::newRow("resources as declared") << FrameWriter::encode(counted) << "resources:       1\n"
                                           << "declaredResources" << QJsonValue(1);
    // Flag and two bytes: too short for a length field, so no block and no count is read.
    FrameWriter::Frame stub;
    stub.rawContent = QByteArray::fromHex("010500");
    QTest::newRow("block shorter than its length field")
        << FrameWriter::encode(stub) << "resources:       0\n"
        << "declaredResources" << QJsonValue();
}

void ZelkoFrameTest::reportsWhatTheFrameLacks()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, line);
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    const Run text = runTool({}, frame);
    QCOMPARE(text.exitCode, 0);
    QVERIFY2(QString::fromUtf8(text.out).contains(line), text.out.constData());
    const Run json = runTool({QStringLiteral("--json")}, frame);
    QCOMPARE(QJsonDocument::fromJson(json.out).object().value(key), value);
}

void ZelkoFrameTest::signedQueriesReachTheService_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("serviceType");
    QTest::newRow("search") << QStringList{"--search-query", "zlib", "--page-size", "2"} << 1;
    QTest::newRow("search, page 1, words with a space")
        << QStringList{"--search-query", "compression library", "--page", "1"} << 1;
    QTest::newRow("search, non-ASCII words") << QStringList{"--search-query", "bibliothèque"} << 1;
    QTest::newRow("details") << QStringList{"--details-query", "zlib1g"} << 2;
}

// The query the tool signs is one the reference service accepts: its answer carries error 0.
void ZelkoFrameTest::signedQueriesReachTheService()
{
    QFETCH(QStringList, args);
    QFETCH(int, serviceType);
    ReferenceService service;
    QVERIFY2(service.start(0, 0, QStringLiteral(ZELKO_TEST_DATA "/dpkg-status")), qPrintable(service.log()));
    const Run query = runTool(args);
    QCOMPARE(query.exitCode, 0);
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(service.searchUrl())};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply *reply = manager.post(request, query.out);
    QVERIFY(QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000));
    const Run decoded = runTool({QStringLiteral("--json")}, reply->readAll());
    delete reply;
    QCOMPARE(decoded.exitCode, 0);
    const QJsonObject report = QJsonDocument::fromJson(decoded.out).object();
    QCOMPARE(report.value(QStringLiteral("errorCode")).toInt(), 0);
    QCOMPARE(report.value(QStringLiteral("serviceType")).toInt(), serviceType);
}

void ZelkoFrameTest::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("error");
    const QString frame = writeFile(m_dir, QStringLiteral("frame.bin"),
                                    TestFrames::named(QStringLiteral("two entries, compressed")).bytes);
    const QString plainFile = writeFile(m_dir, QStringLiteral("not-a-dir"), "x");
    QTest::newRow("unknown option") << QStringList{"--bogus", frame} << QByteArray("bogus");
    QTest::newRow("two frames") << QStringList{frame, frame} << QByteArray("one frame at a time");
    QTest::newRow("missing file") << QStringList{m_dir.filePath("absent.bin")} << QByteArray("absent.bin");
    QTest::newRow("directory as frame") << QStringList{m_dir.path()} << QByteArray("cannot read");
    QTest::newRow("extract into a file")
        << QStringList{"--extract", plainFile, frame} << QByteArray("not-a-dir");
    QTest::newRow("extract below a file")
        << QStringList{"--extract", plainFile + "/sub", frame} << QByteArray("not-a-dir");
    // One new folder at most: a mistyped path must not grow a tree.
    QTest::newRow("extract several levels deep")
        << QStringList{"--extract", m_dir.filePath("a/b/c"), frame} << QByteArray("a/b is not a directory");
    QTest::newRow("two queries at once")
        << QStringList{"--sign", "x", "--details-query", "y"} << QByteArray("one of --sign");
    QTest::newRow("page size 0") << QStringList{"--search-query", "x", "--page-size", "0"}
                                 << QByteArray("--page-size");
}

void ZelkoFrameTest::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, error);
    const Run run = runTool(args);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(error), run.err.constData());
}

// docs/frame-format.md shows one frame in hex and the tool's report of it; both must hold.
void ZelkoFrameTest::documentedExample()
{
    QFile doc(QStringLiteral(ZELKO_SOURCE_DIR "/docs/frame-format.md"));
    QVERIFY(doc.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(doc.readAll());

    const int hexStart = text.indexOf(QLatin1String("```hex\n"));
    QVERIFY(hexStart >= 0);
    const int hexEnd = text.indexOf(QLatin1String("```"), hexStart + 7);
    const QByteArray shown = QByteArray::fromHex(text.mid(hexStart + 7, hexEnd - hexStart - 7).toLatin1());

    FrameWriter::Frame f;
    f.serviceType = 5;
    f.hasResources = true;
    f.resources = {FrameWriter::Resource{"ab", 1, "xyz"}};
    f.json = "{\"n\":1}";
    QCOMPARE(shown.toHex(' '), FrameWriter::encode(f).toHex(' '));

    const QString command = QStringLiteral("$ zelko-frame example.bin\n");
    const int reportStart = text.indexOf(command);
    QVERIFY(reportStart >= 0);
    const int reportEnd = text.indexOf(QLatin1String("```"), reportStart);
    const QString report = text.mid(reportStart + command.size(), reportEnd - reportStart - command.size());

    const Run run = runOnFile({}, shown, QStringLiteral("example.bin"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QString::fromUtf8(run.out), report);
}

QTEST_GUILESS_MAIN(ZelkoFrameTest)
#include "zelkoframetest.moc"
