#include "benchframes.h"

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>

#include <cmath>

namespace BenchFrames {

QList<FrameWriter::Resource> pngResources(int count, int bytesEach)
{
    QList<FrameWriter::Resource> out;
    QRandomGenerator rng(20261207);
    // Noise does not compress, so the side follows from the size wanted: about
    // 3 bytes a pixel, plus a flat border as real thumbnails have.
    const int side = qMax(4, int(std::sqrt(bytesEach / 3.0)));
    for (int i = 0; i < count; ++i) {
        QImage image(side + 8, side + 8, QImage::Format_RGB32);
        image.fill(0xffe0e0e0);
        for (int y = 0; y < side; ++y) {
            auto *line = reinterpret_cast<quint32 *>(image.scanLine(y + 4)) + 4;
            for (int x = 0; x < side; ++x)
                line[x] = 0xff000000u | (rng.generate() & 0xffffffu);
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        FrameWriter::Resource r;
        r.id = QByteArray("thumb/") + QByteArray::number(i).rightJustified(4, '0') + ".png";
        r.type = 1;
        r.data = png;
        out.append(r);
    }
    return out;
}

QByteArray resultJson(const QList<FrameWriter::Resource> &resources, int bytes)
{
    QByteArray json = "{\"total\":" + QByteArray::number(resources.size()) + ",\"items\":[";
    for (int i = 0; i < resources.size(); ++i) {
        if (i)
            json += ',';
        json += "{\"name\":\"package-" + QByteArray::number(i) + "\",\"icon\":\"image://res/"
                + resources[i].id + "\"}";
    }
    json += "],\"note\":\"";
    while (json.size() < bytes - 2)
        json += "x";
    json += "\"}";
    return json;
}

Built build(const QList<FrameWriter::Resource> &resources, const QByteArray &json, bool compressed)
{
    FrameWriter::Frame frame;
    frame.serviceType = 1;
    frame.hasResources = !resources.isEmpty();
    frame.resources = resources;
    frame.json = json;
    frame.compressFlag = compressed ? FrameWriter::Zlib : FrameWriter::Plain;

    Built built;
    built.frame = FrameWriter::encode(frame);
    built.content = FrameWriter::content(frame);
    // head, service type, error code, flag, original length, and for zlib the packed length
    built.streamOffset = compressed ? 18 : 14;
    built.streamLength = built.frame.size() - built.streamOffset;

    // flag, block length, count, then per entry: id length, id, type, data length, data
    int pos = 1 + 8;
    for (const FrameWriter::Resource &r : resources) {
        pos += 1 + r.id.size() + 1 + 4;
        built.resourceSpans.append({pos, r.data.size()});
        pos += r.data.size();
    }
    return built;
}

} // namespace BenchFrames
