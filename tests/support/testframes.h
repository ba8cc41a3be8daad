#ifndef TESTFRAMES_H
#define TESTFRAMES_H

#include "framewriter.h"
#include "testimages.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Every service response frame the suites send through the client (the frame
// outcomes, the resource blocks, the images served to the QML suites), each with
// what the decoder makes of it, so that tools are checked against the same frames.
namespace TestFrames {

struct Resource
{
    QString id;
    int type = 1;
    QByteArray data;
    QString image = {}; // "<format> <w>x<h>" when the bytes decode as an image
};

struct Frame
{
    QString name;
    QByteArray bytes;
    QString failure;    // the decoder's reason text; empty when the frame decodes
    qint64 serviceType; // as on the wire; -1 where the pass stopped before it
    int errorCode;      // -1 where the pass stopped before it
    QString json;       // null where the pass stopped before it
    QList<Resource> resources = {};
};

inline QList<Frame> all()
{
    using FrameWriter::le32;
    auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    auto json = [](const QByteArray &text) { return le32(quint32(text.size())) + text; };
    auto entry = [](const QByteArray &id, const QByteArray &data, quint8 type = 1) {
        return FrameWriter::resourceEntry(FrameWriter::Resource{id, type, data});
    };
    const QString none; // a null json: not reached

    QList<Frame> frames;

    FrameWriter::Frame ok;
    ok.serviceType = 7;
    ok.json = "{}";
    const QByteArray okPlain = FrameWriter::encode(ok);
    FrameWriter::Frame packed = ok;
    packed.compressFlag = FrameWriter::Zlib;

    frames.append({"9 bytes", hex("000000000700000000"), "Buffer size is too short", -1, -1, none});
    frames.append({"10 zero bytes", QByteArray(10, '\0'), "Content Data error", 0, 0, none});
    frames.append(
        {"head not 0", hex("01000000070000000000") + okPlain.mid(10), "Data head invalid", -1, -1, none});
    FrameWriter::Frame serviceError = ok;
    serviceError.errorCode = 5;
    frames.append(
        {"service error 5", FrameWriter::encode(serviceError), "Service error code :5", 7, 5, none});
    frames.append(
        {"service error helper", FrameWriter::serviceError(9, 200), "Service error code :200", 9, 200, none});
    FrameWriter::Frame flag = ok;
    flag.compressFlag = 1;
    frames.append(
        {"compress flag 1", FrameWriter::encode(flag) + ok.json, "Compress flag invalid", 7, 0, none});
    flag.compressFlag = 255;
    frames.append({"compress flag 255", FrameWriter::encode(flag), "Compress flag invalid", 7, 0, none});
    frames.append({"plain", okPlain, QString(), 7, 0, "{}"});
    frames.append({"compressed", FrameWriter::encode(packed), QString(), 7, 0, "{}"});
    FrameWriter::Frame wrongLen = packed;
    wrongLen.originalLen = 0;
    frames.append({"compressed, declared 0", FrameWriter::encode(wrongLen), QString(), 7, 0, "{}"});
    wrongLen.originalLen = 0xFFFFFFFFu;
    frames.append({"compressed, declared 4 GiB", FrameWriter::encode(wrongLen), QString(), 7, 0, "{}"});
    FrameWriter::Frame cut = packed;
    cut.keepCompressed = 6;
    frames.append(
        {"compressed stream cut short", FrameWriter::encode(cut), "Content Data error", 7, 0, none});
    frames.append({"compressed garbage",
                   hex("00000000070000000002") + le32(99) + le32(15) + "not zlib at all",
                   "Content Data error", 7, 0, none});
    frames.append({"header only", okPlain.left(14), "Content Data error", 7, 0, none});
    frames.append({"plain content of length 0", hex("0000000007000000000000000000") + "trailing",
                   "Content Data error", 7, 0, none});
    FrameWriter::Frame shortJson = ok;
    shortJson.json = "abcd";
    shortJson.jsonLen = 10;
    frames.append({"json shorter than its length", FrameWriter::encode(shortJson), QString(), 7, 0, "abcd"});
    FrameWriter::Frame trailing = ok;
    trailing.rawContent = hex("00") + json("{}") + "after json";
    trailing.trailing = "after content";
    frames.append({"bytes after json and content", FrameWriter::encode(trailing), QString(), 7, 0, "{}"});
    FrameWriter::Frame longer = ok;
    longer.originalLen = 1000;
    frames.append({"plain length beyond the frame", FrameWriter::encode(longer), QString(), 7, 0, "{}"});
    FrameWriter::Frame highType = ok;
    highType.serviceType = 0xFFFFFFFEu;
    frames.append(
        {"service type above 2^31", FrameWriter::encode(highType), QString(), 0xFFFFFFFEu, 0, "{}"});
    FrameWriter::Frame utf8 = ok;
    utf8.json = QStringLiteral("{\"q\":\"Zürich 北京\"}").toUtf8();
    frames.append({"utf-8 json", FrameWriter::encode(utf8), QString(), 7, 0,
                   QStringLiteral("{\"q\":\"Zürich 北京\"}")});
    FrameWriter::Frame badUtf8 = ok;
    badUtf8.json = "a\xff"
                   "b";
    frames.append(
        {"malformed utf-8 json", FrameWriter::encode(badUtf8), QString(), 7, 0, QStringLiteral("a\uFFFDb")});

    // Resource blocks, all in frames of service type 3.
    auto frameOf = [](const QByteArray &contentBytes, bool compress = false) {
        FrameWriter::Frame f;
        f.serviceType = 3;
        f.rawContent = contentBytes;
        if (compress)
            f.compressFlag = FrameWriter::Zlib;
        return FrameWriter::encode(f);
    };
    FrameWriter::Frame two;
    two.serviceType = 3;
    two.hasResources = true;
    two.resources = {FrameWriter::Resource{"r1/a", 1, "alpha"},
                     FrameWriter::Resource{"r1/b", 2, QByteArray(3000, 'b')}};
    two.json = "[1]";
    two.compressFlag = FrameWriter::Zlib;
    frames.append({"two entries, compressed",
                   FrameWriter::encode(two),
                   QString(),
                   3,
                   0,
                   "[1]",
                   {{"r1/a", 1, "alpha"}, {"r1/b", 2, QByteArray(3000, 'b')}}});
    frames.append({"empty block 00 00 00 00", frameOf(hex("01") + hex("00000000") + json("[2]")), QString(),
                   3, 0, "[2]"});
    frames.append({"dataLen 4, resCount 0", frameOf(hex("01") + le32(4) + le32(0) + json("[3]")), QString(),
                   3, 0, "[3]"});
    frames.append({"count 2, one entry stored",
                   frameOf(hex("01") + le32(4 + entry("r4/x", "xx").size()) + le32(2) + entry("r4/x", "xx")
                           + json("[4]")),
                   QString(),
                   3,
                   0,
                   "[4]",
                   {{"r4/x", 1, "xx"}}});
    const QByteArray dup = entry("r5/d", "first") + entry("r5/d", "second");
    frames.append({"same id twice",
                   frameOf(hex("01") + le32(4 + dup.size()) + le32(2) + dup + json("[5]")),
                   QString(),
                   3,
                   0,
                   "[5]",
                   {{"r5/d", 1, "first"}, {"r5/d", 1, "second"}}});
    const QByteArray zeroCut = hex("03610062") + hex("01") + le32(1) + "z";
    frames.append({"id cut at zero byte",
                   frameOf(hex("01") + le32(4 + zeroCut.size()) + le32(1) + zeroCut + json("[6]")),
                   QString(),
                   3,
                   0,
                   "[6]",
                   {{"a", 1, "z"}}});
    frames.append({"content of 3 bytes", frameOf(hex("010000")), QString(), 3, 0, ""});
    for (quint32 small = 1; small <= 3; ++small) {
        frames.append({QStringLiteral("dataLen %1").arg(small),
                       frameOf(hex("01") + le32(small) + le32(1) + json("[7]")), QString(), 3, 0, "[7]"});
    }
    const QByteArray cutEntry = entry("r8/full", "1234") + entry("r8/cut", "abcdefgh").left(15);
    frames.append({"block longer than the content",
                   frameOf(hex("01") + le32(1000) + le32(2) + cutEntry),
                   QString(),
                   3,
                   0,
                   "",
                   {{"r8/full", 1, "1234"}, {"r8/cut", 1, "abc"}}});
    const QByteArray area = entry("r9/one", "1") + entry("r9/two", "2222").left(14);
    frames.append({"last entry cut by the area",
                   frameOf(hex("01") + le32(4 + area.size()) + le32(2) + area + json("[9]")),
                   QString(),
                   3,
                   0,
                   "[9]",
                   {{"r9/one", 1, "1"}, {"r9/two", 1, "22"}}});
    frames.append({"flag without a block, compressed",
                   frameOf(hex("01") + hex("00000000") + json("[10]"), true), QString(), 3, 0, "[10]"});

    // What the QML suites' stand-in service answers: images and one entry that is not an image.
    const QByteArray red = pngBytes(37, 23, Qt::red, QImage::Format_RGB32);
    const QByteArray blue = pngBytes(16, 16, Qt::blue, QImage::Format_RGB32);
    frames.append({"qml images answer",
                   FrameWriter::answer(
                       11, "{\"images\":3}",
                       {{"png/red", 1, red}, {"png/blue", 1, blue}, {"junk", 1, "this is not an image"}}, 0),
                   QString(),
                   11,
                   0,
                   "{\"images\":3}",
                   {{"png/red", 1, red, "png 37x23"},
                    {"png/blue", 1, blue, "png 16x16"},
                    {"junk", 1, "this is not an image"}}});
    // The reference service's way: the whole content deflated by libdeflate, not zlib.
    frames.append(
        {"libdeflate answer",
         FrameWriter::libdeflateAnswer(11, "{\"images\":2}", {{"png/red", 1, red}, {"png/blue", 1, blue}}, 0),
         QString(),
         11,
         0,
         "{\"images\":2}",
         {{"png/red", 1, red, "png 37x23"}, {"png/blue", 1, blue, "png 16x16"}}});
    // A PNG header with the image cut off: recognised, but it does not decode.
    frames.append({"damaged image",
                   FrameWriter::answer(11, "{}", {{"png/cut", 1, red.left(40)}}),
                   QString(),
                   11,
                   0,
                   "{}",
                   {{"png/cut", 1, red.left(40)}}});
    frames.append({"plain answer, no resources", FrameWriter::answer(4, "{\"results\":[]}", {}), QString(), 4,
                   0, "{\"results\":[]}"});
    return frames;
}

inline Frame named(const QString &name)
{
    for (const Frame &f : all()) {
        if (f.name == name)
            return f;
    }
    return {};
}

} // namespace TestFrames

#endif
