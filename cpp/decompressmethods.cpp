#include "decompressmethods.h"
#include "zelkoscramble_p.h"

#include <zlib.h>

#include <new>

namespace {

// Releases the inflate state on every way out, including a failed allocation.
class InflateStream
{
public:
    InflateStream() { m_ok = inflateInit(&m_stream) == Z_OK; }
    ~InflateStream()
    {
        if (m_ok)
            inflateEnd(&m_stream);
    }
    InflateStream(const InflateStream &) = delete;
    InflateStream &operator=(const InflateStream &) = delete;

    bool isValid() const { return m_ok; }
    z_stream *get() { return &m_stream; }

private:
    z_stream m_stream = {};
    bool m_ok = false;
};

QByteArray inflateAll(const QByteArray &input, qint64 firstBufferSize)
{
    InflateStream zs;
    if (!zs.isValid())
        return QByteArray();
    z_stream *s = zs.get();
    s->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.constData()));
    s->avail_in = static_cast<uInt>(input.size());

    // One byte of room past the limit tells a stream that ends exactly at the
    // limit from one that goes on.
    const qint64 capacityLimit = DecompressMethods::MaxInflatedSize + 1;
    QByteArray out;
    try {
        out.resize(static_cast<int>(qBound<qint64>(1, firstBufferSize, capacityLimit)));
    } catch (const std::bad_alloc &) {
        // Only a hint: start small and grow as the stream proves its size.
        out.resize(
            static_cast<int>(qBound<qint64>(1, firstBufferSize, DecompressMethods::MaxInitialBufferSize)));
    }
    qint64 produced = 0;

    for (;;) {
        if (produced == out.size()) {
            if (produced > DecompressMethods::MaxInflatedSize)
                return QByteArray();
            out.resize(static_cast<int>(qMin<qint64>(qint64(out.size()) * 2, capacityLimit)));
        }
        s->next_out = reinterpret_cast<Bytef *>(out.data() + produced);
        s->avail_out = static_cast<uInt>(out.size() - produced);
        const int ret = inflate(s, Z_NO_FLUSH);
        produced = out.size() - qint64(s->avail_out);
        if (ret == Z_STREAM_END)
            break;
        // Z_OK means progress; anything else, including Z_BUF_ERROR with
        // output room left (input exhausted before the end), is a bad stream.
        if (ret != Z_OK)
            return QByteArray();
    }
    if (produced > DecompressMethods::MaxInflatedSize)
        return QByteArray();
    // Anything after the end of the stream is ignored.
    out.resize(static_cast<int>(produced));
    out.squeeze();
    return out;
}

} // namespace

DecompressMethods::DecompressMethods(QObject *parent)
    : QObject(parent)
{
}

QByteArray DecompressMethods::ZlibDecompress(QByteArray *compressedData, qint64 uncompressedLen)
{
    if (!compressedData || compressedData->isEmpty())
        return QByteArray();
    try {
        // A correct declared length inflates in one buffer with no reallocation. It
        // comes from the wire, so it counts only up to what this input can inflate to.
        const qint64 reachable = qint64(compressedData->size()) * MaxDeflateRatio + 1024;
        return inflateAll(*compressedData, qMin(uncompressedLen, reachable));
    } catch (const std::bad_alloc &) {
        return QByteArray();
    }
}

QString DecompressMethods::ZelkoEncrypt(QString code, QString key)
{
    try {
        const QByteArray b = code.toUtf8();
        return ZelkoScramble::crcPrefixedHex(ZelkoScramble::ed(b, key, 0, b.length()),
                                             ZelkoScramble::CodeCrcOrder);
    } catch (...) {
        return QString();
    }
}
