#ifndef FRAMEWRITER_H
#define FRAMEWRITER_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Builds service response frames: the well-formed ones a service sends, and,
// through the overrides, every malformed variant a decoder must survive.
// Shared by the reference service, the tests, the benchmarks and the fuzz seeds.
namespace FrameWriter {

enum CompressFlag : quint8 {
    Plain = 0,
    Zlib = 2
};

struct Resource
{
    QByteArray id;   // Latin-1 identifier, at most 255 bytes
    quint8 type = 1; // carried but not interpreted by the client
    QByteArray data;
};

struct Frame
{
    quint32 head = 0;
    quint32 serviceType = 0;
    quint8 errorCode = 0;
    quint8 compressFlag = Plain;
    int compressionLevel = 6;

    bool hasResources = false;
    QList<Resource> resources;
    QByteArray json;

    // Overrides of the fields the writer would otherwise compute.
    std::optional<quint32> originalLen;
    std::optional<quint32> compressedLen;
    std::optional<quint32> dataLen;
    std::optional<quint32> resCount;
    std::optional<quint32> jsonLen;
    std::optional<quint8> resourceFlag;
    // Raw bytes instead of the resource block, and instead of the whole content.
    std::optional<QByteArray> rawResourceBlock;
    std::optional<QByteArray> rawContent;
    // Bytes of the compressed stream to keep (a truncated stream), and bytes after the content.
    std::optional<int> keepCompressed;
    QByteArray trailing;
};

QByteArray le32(quint32 value);
QByteArray resourceEntry(const Resource &resource);
QByteArray resourceBlock(const Frame &frame);
QByteArray content(const Frame &frame);
QByteArray zlibCompress(const QByteArray &data, int level = 6);
QByteArray encode(const Frame &frame);

// A well-formed answer: JSON text, optional resources, compressed when larger than threshold.
QByteArray answer(quint32 serviceType, const QByteArray &json, const QList<Resource> &resources,
                  int compressAbove = 1024);
// The same frame, its content deflated by libdeflate at level (1: its fastest) instead of
// zlib: several times cheaper, and over a page of thumbnails smaller than zlib's level 6.
// The same bytes for the same input, level and libdeflate version. Empty without memory.
QByteArray libdeflateAnswer(quint32 serviceType, const QByteArray &json, const QList<Resource> &resources,
                            int compressAbove = 1024, int level = 1);
// A service error: the code and an empty content.
QByteArray serviceError(quint32 serviceType, quint8 errorCode);

} // namespace FrameWriter

#endif
