#include "framewriter.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>

namespace FrameWriter {

namespace {

// libdeflate's compressors are not for two threads at once, and making one costs more than
// compressing an answer: one a thread and level, kept.
libdeflate_compressor *threadCompressor(int level)
{
    struct Compressors
    {
        std::array<libdeflate_compressor *, 13> byLevel{};
        ~Compressors()
        {
            for (libdeflate_compressor *c : byLevel)
                libdeflate_free_compressor(c);
        }
    };
    thread_local Compressors compressors;
    if (level < 0 || level >= int(compressors.byLevel.size()))
        return nullptr;
    libdeflate_compressor *&c = compressors.byLevel[size_t(level)];
    if (!c)
        c = libdeflate_alloc_compressor(level);
    return c;
}

} // namespace

QByteArray le32(quint32 value)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((value >> (8 * i)) & 0xff);
    return out;
}

QByteArray resourceEntry(const Resource &resource)
{
    QByteArray out;
    out.append(char(quint8(resource.id.size())));
    out.append(resource.id.left(255));
    out.append(char(resource.type));
    out.append(le32(quint32(resource.data.size())));
    out.append(resource.data);
    return out;
}

QByteArray resourceBlock(const Frame &frame)
{
    if (frame.rawResourceBlock)
        return *frame.rawResourceBlock;
    QByteArray entries;
    for (const Resource &r : frame.resources)
        entries.append(resourceEntry(r));
    QByteArray out = le32(frame.dataLen.value_or(quint32(4 + entries.size())));
    out.append(le32(frame.resCount.value_or(quint32(frame.resources.size()))));
    out.append(entries);
    return out;
}

QByteArray content(const Frame &frame)
{
    if (frame.rawContent)
        return *frame.rawContent;
    QByteArray out;
    out.append(char(frame.resourceFlag.value_or(frame.hasResources ? 1 : 0)));
    if (frame.hasResources)
        out.append(resourceBlock(frame));
    out.append(le32(frame.jsonLen.value_or(quint32(frame.json.size()))));
    out.append(frame.json);
    return out;
}

QByteArray zlibCompress(const QByteArray &data, int level)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(int(size), '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &size,
                  reinterpret_cast<const Bytef *>(data.constData()), uLong(data.size()), level)
        != Z_OK)
        return QByteArray();
    out.resize(int(size));
    return out;
}

QByteArray encode(const Frame &frame)
{
    const QByteArray plain = content(frame);
    QByteArray out = le32(frame.head);
    out.append(le32(frame.serviceType));
    out.append(char(frame.errorCode));
    out.append(char(frame.compressFlag));
    out.append(le32(frame.originalLen.value_or(quint32(plain.size()))));
    if (frame.compressFlag == Zlib) {
        QByteArray packed = zlibCompress(plain, frame.compressionLevel);
        if (frame.keepCompressed)
            packed.truncate(*frame.keepCompressed);
        out.append(le32(frame.compressedLen.value_or(quint32(packed.size()))));
        out.append(packed);
    } else if (frame.compressFlag == Plain) {
        out.append(plain);
    }
    out.append(frame.trailing);
    return out;
}

QByteArray answer(quint32 serviceType, const QByteArray &json, const QList<Resource> &resources,
                  int compressAbove)
{
    Frame frame;
    frame.serviceType = serviceType;
    frame.hasResources = !resources.isEmpty();
    frame.resources = resources;
    frame.json = json;
    if (content(frame).size() > compressAbove)
        frame.compressFlag = Zlib;
    return encode(frame);
}

QByteArray libdeflateAnswer(quint32 serviceType, const QByteArray &json, const QList<Resource> &resources,
                            int compressAbove, int level)
{
    Frame frame;
    frame.serviceType = serviceType;
    frame.hasResources = !resources.isEmpty();
    frame.resources = resources;
    frame.json = json;
    const QByteArray plain = content(frame);
    if (plain.size() <= compressAbove)
        return encode(frame);
    QByteArray out = le32(frame.head) + le32(serviceType);
    out.append(char(0));
    out.append(char(Zlib));
    out.append(le32(quint32(plain.size())));
    const int lengthAt = out.size();
    libdeflate_compressor *compressor = threadCompressor(level);
    if (!compressor)
        return QByteArray();
    const size_t bound = libdeflate_zlib_compress_bound(compressor, size_t(plain.size()));
    out.resize(lengthAt + 4 + int(bound));
    const size_t packed = libdeflate_zlib_compress(compressor, plain.constData(), size_t(plain.size()),
                                                   out.data() + lengthAt + 4, bound);
    if (packed == 0)
        return QByteArray();
    out.resize(lengthAt + 4 + int(packed));
    const QByteArray length = le32(quint32(packed));
    std::copy(length.begin(), length.end(), out.begin() + lengthAt);
    return out;
}

QByteArray serviceError(quint32 serviceType, quint8 errorCode)
{
    Frame frame;
    frame.serviceType = serviceType;
    frame.errorCode = errorCode;
    frame.rawContent.emplace();
    return encode(frame);
}

} // namespace FrameWriter
