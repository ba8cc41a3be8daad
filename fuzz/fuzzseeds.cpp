// Writes a seed corpus per fuzz target into <dir>/<target>/, built from the
// frame writer: well-formed frames and the malformed variants the tests know.
#include "framewriter.h"
#include "http_walk.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <initializer_list>
#include <utility>

using FrameWriter::Frame;
using FrameWriter::Resource;

namespace {

QString g_root;

void put(const char *target, const QString &name, const QByteArray &bytes)
{
    const QString dir = g_root + QLatin1Char('/') + QLatin1String(target);
    QDir().mkpath(dir);
    QFile f(dir + QLatin1Char('/') + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "fuzzseeds: cannot write %s\n", qPrintable(f.fileName()));
        std::exit(1);
    }
}

QList<Frame> frames()
{
    const QList<Resource> resources{
        {"pkg/zlib1g", 1, QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(40, 'p')},
        {"pkg/bash", 2, QByteArray(300, 'b')},
        {"", 0, QByteArray()}};
    QList<Frame> out;
    Frame plain;
    plain.serviceType = 1;
    plain.json = R"({"service":1,"q":"zlib","total":1,"results":[{"name":"zlib1g","res":"pkg/zlib1g"}]})";
    out << plain;
    Frame withRes = plain;
    withRes.hasResources = true;
    withRes.resources = resources;
    out << withRes;
    Frame packed = withRes;
    packed.compressFlag = FrameWriter::Zlib;
    out << packed;
    Frame packedBig = packed;
    packedBig.json = QByteArray(2000, 'j');
    out << packedBig;
    Frame serviceError;
    serviceError.serviceType = 2;
    serviceError.errorCode = 4;
    serviceError.rawContent = QByteArray();
    out << serviceError;
    Frame badFlag = plain;
    badFlag.compressFlag = 1;
    out << badFlag;
    Frame head = plain;
    head.head = 1;
    out << head;
    Frame cut = packed;
    cut.keepCompressed = 9;
    out << cut;
    Frame lenHuge = packed;
    lenHuge.originalLen = 0xFFFFFFFFu;
    lenHuge.compressedLen = 0x7FFFFFFFu;
    out << lenHuge;
    Frame countWrong = withRes;
    countWrong.resCount = 7;
    out << countWrong;
    Frame dataLenShort = withRes;
    dataLenShort.dataLen = 3;
    out << dataLenShort;
    Frame dataLenHuge = withRes;
    dataLenHuge.dataLen = 0xFFFFFFF0u;
    out << dataLenHuge;
    Frame jsonLenHuge = plain;
    jsonLenHuge.jsonLen = 0xFFFFFFFFu;
    out << jsonLenHuge;
    Frame utf8 = plain;
    utf8.json = QStringLiteral("{\"q\":\"Zürich ✓ \U0001F600\"}").toUtf8() + QByteArray("\xff\xfe\0x", 4);
    out << utf8;
    Frame trailing = packed;
    trailing.trailing = QByteArray(17, '\x7f');
    out << trailing;
    return out;
}

// A walk for the HTTP sessions (bit 0x80 of the first byte): an action and its argument a pair.
QByteArray walk(std::initializer_list<std::pair<HttpWalk::Action, uint8_t>> actions)
{
    QByteArray bytes(1, char(0x80));
    for (const auto &action : actions)
        bytes += QByteArray(1, char(action.first)) + QByteArray(1, char(action.second));
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzzseeds DIR\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);

    const QList<Frame> all = frames();
    for (int i = 0; i < all.size(); ++i) {
        const Frame &f = all[i];
        const QString name = QStringLiteral("seed-%1").arg(i, 2, 10, QLatin1Char('0'));
        const QByteArray frame = FrameWriter::encode(f);
        put("frame_fuzzer", name, frame);
        // The resource parser starts where arrived() hands it the buffer: after the flag byte.
        Frame block = f;
        if (!block.hasResources) {
            block.hasResources = true;
            block.resources = {{"only", 1, "x"}};
        }
        put("resource_fuzzer", name, FrameWriter::resourceBlock(block));
        const QByteArray content = FrameWriter::content(f);
        put("zlib_fuzzer", name,
            FrameWriter::le32(f.originalLen.value_or(quint32(content.size())))
                + FrameWriter::zlibCompress(content, i % 10));
        put("stream_fuzzer", name, frame);
    }
    // Requests for the HTTP sessions: no split points (the first byte), then the bytes.
    const QByteArray query = R"({"service":1,"q":"zlib","page":0,"pageSize":3,"sign":"0"})";
    const QByteArray post = "POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: "
                            + QByteArray::number(query.size()) + "\r\n\r\n" + query;
    const QList<QByteArray> requests{
        post,
        post + post + post,
        "POST /search HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n5;a=b\r\nhello\r\n0\r\nT: "
        "1\r\n\r\n",
        "POST /search HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n{}",
        "POST /search HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\n{}" + post,
        "\r\n\r\nGET /search HTTP/1.1\r\nHost: x\r\n\r\nPOST /other HTTP/1.1\r\nHost: x\r\n\r\n" + post,
        "POST /search HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n",
        "POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 99999\r\n\r\n{}",
    };
    for (int i = 0; i < requests.size(); ++i)
        put("http_fuzzer", QStringLiteral("request-%1").arg(i), QByteArray(1, '\0') + requests[i]);
    // The same pipelined requests, cut in three places.
    put("http_fuzzer", QStringLiteral("split-3"), QByteArray::fromHex("03204080") + post + post);
    // Framing fields from the grammar's pieces (bit 0x40): which fields, then each value as a
    // count of pieces and their indexes: "chunked"; " chunked ,"; "chunked;q=1"; "gzip, chunked"
    // with a Content-Length of 1.
    for (const char *fields : {"4001020000", "400104050004000000", "400103000708100000", "4003030204000101"})
        put("http_fuzzer", QStringLiteral("framing-%1").arg(QLatin1String(fields)),
            QByteArray::fromHex(fields));

    using namespace HttpWalk;
    // A POST answered, and behind it in the same write the head of one that waits for 100
    // Continue: the interim answer is due while the first answer may still be going out.
    put("http_fuzzer", QStringLiteral("walk-expect-after-answer"),
        walk({{Post, 5}, {ExpectWaiting, 5}, {Read, 0}}));
    put("http_fuzzer", QStringLiteral("walk-expect-pipelined"),
        walk({{Post, 3},
              {ExpectAtOnce, 0x24},
              {PostChunked, 0xc6},
              {Read, 0},
              {ExpectWaiting, 0x22},
              {CloseWrite, 0}}));
    put("http_fuzzer", QStringLiteral("walk-head"),
        walk({{Post, 3}, {Head, 0}, {Post, 4}, {Read, 0}, {Head, 0}, {Read, 0}}));
    // An LF, then a control byte, in a quoted chunk extension.
    put("http_fuzzer", QStringLiteral("walk-extension-lf"), walk({{Post, 2}, {Malformed, 12}, {Read, 0}}));
    put("http_fuzzer", QStringLiteral("walk-extension-control"),
        walk({{PostEmpty, 1}, {Malformed, 6}, {Post, 1}}));
    put("http_fuzzer", QStringLiteral("walk-refusals"),
        walk({{Post, 1},
              {Misrouted, 0},
              {Post, 2},
              {Misrouted, 1},
              {Read, 0},
              {Post, 3},
              {Malformed, 1},
              {Post, 4}}));
    put("http_fuzzer", QStringLiteral("walk-framing"),
        walk({{Post, 0}, {Malformed, 3}, {Read, 0}, {Post, 1}, {Malformed, 2}, {Post, 2}, {Malformed, 4}}));
    // A folded field whose head comes in two pieces, the fold in the first.
    put("http_fuzzer", QStringLiteral("walk-fold-split"),
        walk({{Split, 181}, {Malformed, 2}, {Stall, 5}, {Read, 0}}));
    // A head whose body stalls, while another connection is served.
    put("http_fuzzer", QStringLiteral("walk-stalled-body"),
        walk({{Split, 96}, {Post, 20}, {Stall, 8}, {OtherConnection, 0}, {Stall, 8}, {Read, 0}, {Post, 1}}));
    put("http_fuzzer", QStringLiteral("walk-stall-past-bound"),
        walk({{Split, 128},
              {Post, 16},
              {Stall, 31},
              {Stall, 31},
              {Stall, 31},
              {Stall, 31},
              {Read, 0},
              {Post, 2}}));

    put("frame_fuzzer", QStringLiteral("short-9"), QByteArray(9, '\0'));
    put("frame_fuzzer", QStringLiteral("zero-10"), QByteArray(10, '\0'));
    // Message lengths around the block and padding boundaries.
    for (int n : {0, 1, 3, 55, 56, 63, 64, 65, 119, 120, 128, 1000})
        put("digest_fuzzer", QStringLiteral("len-%1").arg(n, 4, 10, QLatin1Char('0')),
            QByteArray(1, char(n % 17)) + QByteArray(n, char('a' + n % 26)));
    return 0;
}
