#include "framewriter.h"

#include <zlib.h>

#include <algorithm>

namespace FrameWriter {

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

QByteArray storedResourcesAnswer(quint32 serviceType, const QByteArray &json,
                                 const QList<Resource> &resources, int compressAbove, int jsonLevel)
{
    Frame frame;
    frame.serviceType = serviceType;
    frame.hasResources = !resources.isEmpty();
    frame.resources = resources;
    frame.jsonLen = quint32(json.size());
    const QByteArray head = content(frame);
    const int plainSize = head.size() + json.size();
    QByteArray out = le32(frame.head) + le32(serviceType);
    out.append(char(0));
    if (plainSize <= compressAbove) {
        out.append(char(Plain));
        out.append(le32(quint32(plainSize)));
        return out + head + json;
    }
    out.append(char(Zlib));
    out.append(le32(quint32(plainSize)));
    const int lengthAt = out.size();
    out.append(le32(0));

    z_stream zs = {};
    if (deflateInit(&zs, Z_NO_COMPRESSION) != Z_OK)
        return QByteArray();
    // Room for every stored block's header and the flush between the two parts; grown if short.
    out.resize(lengthAt + 4 + int(compressBound(uLong(plainSize))) + 64);
    auto feed = [&](const QByteArray &part, int flush) {
        zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(part.constData()));
        zs.avail_in = uInt(part.size());
        for (;;) {
            const int written = int(zs.total_out);
            zs.next_out = reinterpret_cast<Bytef *>(out.data()) + lengthAt + 4 + written;
            zs.avail_out = uInt(out.size() - lengthAt - 4 - written);
            const int ret = deflate(&zs, flush);
            if (ret == Z_STREAM_END || (flush == Z_NO_FLUSH && ret == Z_OK && zs.avail_in == 0))
                return true;
            if ((ret != Z_OK && ret != Z_BUF_ERROR) || zs.avail_out > 0)
                return false;
            out.resize(out.size() * 2);
        }
    };
    // The level changes between the parts: zlib ends the stored part with a block boundary.
    const bool ok = feed(head, Z_NO_FLUSH) && deflateParams(&zs, jsonLevel, Z_DEFAULT_STRATEGY) == Z_OK
                    && feed(json, Z_FINISH);
    const quint32 packed = quint32(zs.total_out);
    deflateEnd(&zs);
    if (!ok)
        return QByteArray();
    out.resize(lengthAt + 4 + int(packed));
    const QByteArray length = le32(packed);
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
