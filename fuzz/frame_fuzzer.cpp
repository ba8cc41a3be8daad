// The whole decoding pass of a response frame, as arrived() runs it, against a
// plain reading of the frame layout written here from scratch on purpose: a
// second reading is this target's point. Both must agree on success, JSON text,
// content size and every resource entry.
#include "fuzzsupport.h"
#include "zelkoframereport.h"

#include <zlib.h>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInitialize(argc, argv);
    return 0;
}

namespace {

// Little-endian fields and length-prefixed blocks; a field cut short by the end
// yields what is there.
struct Reader
{
    const QByteArray &bytes;
    qint64 pos = 0;

    qint64 left() const { return bytes.size() - pos; }
    bool atEnd() const { return pos >= bytes.size(); }
    qint64 number(int width)
    {
        const qint64 n = qMin<qint64>(width, left());
        qint64 v = 0;
        for (qint64 i = n - 1; i >= 0; --i)
            v = (v << 8) | quint8(bytes.at(int(pos + i)));
        pos += n;
        return v;
    }
    QByteArray block(qint64 length)
    {
        const qint64 n = qBound<qint64>(0, length, left());
        const QByteArray out = bytes.mid(int(pos), int(n));
        pos += n;
        return out;
    }
};

QByteArray inflateReference(const QByteArray &packed)
{
    if (packed.isEmpty())
        return QByteArray();
    z_stream s = {};
    if (inflateInit(&s) != Z_OK)
        return QByteArray();
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    s.avail_in = uInt(packed.size());
    QByteArray out;
    char chunk[16384];
    int ret = Z_OK;
    while (ret == Z_OK && out.size() <= 64 * 1024 * 1024) {
        s.next_out = reinterpret_cast<Bytef *>(chunk);
        s.avail_out = sizeof chunk;
        ret = inflate(&s, Z_NO_FLUSH);
        out.append(chunk, int(sizeof chunk - s.avail_out));
        if (ret == Z_BUF_ERROR && s.avail_in == 0)
            break;
    }
    inflateEnd(&s);
    if (ret != Z_STREAM_END || out.size() > 64 * 1024 * 1024)
        return QByteArray();
    return out;
}

struct Expected
{
    bool ok = false;
    qint64 contentBytes = -1;
    QList<ZelkoFrameReport::Resource> resources;
    QString json;
};

Expected decodeReference(const QByteArray &frame)
{
    Expected e;
    if (frame.size() < 10)
        return e;
    Reader r{frame};
    if (r.number(4) != 0)
        return e;
    r.number(4);
    if (r.number(1) != 0)
        return e;
    const qint64 flag = r.number(1);
    const qint64 originalLen = r.number(4);
    QByteArray content;
    if (flag == 0)
        content = r.block(originalLen);
    else if (flag == 2)
        content = inflateReference(r.block(r.number(4)));
    else
        return e;
    e.contentBytes = content.size();
    if (content.isEmpty())
        return e;

    Reader c{content};
    if (c.number(1) != 0 && content.size() >= 4) {
        const qint64 dataLen = c.number(4);
        if (dataLen != 0) {
            c.number(4);
            const QByteArray block = c.block(dataLen - 4);
            Reader b{block};
            while (!b.atEnd()) {
                QByteArray id = b.block(b.number(1));
                if (id.indexOf('\0') >= 0)
                    id.truncate(id.indexOf('\0'));
                const int type = int(b.number(1));
                const QByteArray data = b.block(b.number(4));
                e.resources.append({QString::fromLatin1(id), type, data});
            }
        }
    }
    const QByteArray json = c.block(c.number(4));
    e.json = QString::fromUtf8(json.constData(), json.size());
    e.ok = true;
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray frame(reinterpret_cast<const char *>(data), int(size));
    const ZelkoFrameReport report = ZelkoFrameReport::decode(frame);
    const Expected expected = decodeReference(frame);

    FUZZ_CHECK(report.hasRecord == (size >= 10));
    FUZZ_CHECK(report.ok() == expected.ok);
    if (expected.contentBytes >= 0)
        FUZZ_CHECK(report.contentBytes == expected.contentBytes);
    FUZZ_CHECK(report.resources.size() == expected.resources.size());
    for (int i = 0; i < expected.resources.size(); ++i) {
        FUZZ_CHECK(report.resources.at(i).id == expected.resources.at(i).id);
        FUZZ_CHECK(report.resources.at(i).type == expected.resources.at(i).type);
        FUZZ_CHECK(report.resources.at(i).data == expected.resources.at(i).data);
    }
    if (expected.ok)
        FUZZ_CHECK(report.json == expected.json);
    FUZZ_CHECK(report.frameBytesRead <= frame.size());
    FUZZ_CHECK(report.contentBytesRead <= report.contentBytes);
    FUZZ_CHECK(report.jsonBytes <= qMax<qint64>(report.jsonLen, 0));
    return 0;
}
