#include "thumbnail.h"

#include "bytecache.h"

#include <QBuffer>
#include <QColor>
#include <QCryptographicHash>
#include <QImage>

namespace Thumbnail {

QByteArray png(const QString &name)
{
    const QByteArray hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Md5);
    const int hue = (quint8(hash[0]) << 8 | quint8(hash[1])) % 360;
    const QColor ink = QColor::fromHsv(hue, 170 + quint8(hash[2]) % 60, 150 + quint8(hash[3]) % 60);
    const QColor paper = QColor::fromHsv(hue, 30, 245);

    // QColor::rgb() converts on every call; per pixel it costs more than the PNG encoding.
    const QRgb inkRgb = ink.rgb();
    QImage image(Size, Size, QImage::Format_RGB32);
    image.fill(paper);
    constexpr int cells = 5;
    constexpr int cell = 8;
    constexpr int margin = (Size - cells * cell) / 2;
    // Fifteen bits decide the left three columns; the right two mirror them.
    const quint32 bits = quint8(hash[4]) | quint8(hash[5]) << 8;
    for (int row = 0; row < cells; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (!(bits >> (row * 3 + col) & 1))
                continue;
            for (int mirror : {col, cells - 1 - col}) {
                for (int y = 0; y < cell; ++y)
                    for (int x = 0; x < cell; ++x)
                        image.setPixel(margin + mirror * cell + x, margin + row * cell + y, inkRgb);
            }
        }
    }
    // A frame in the ink colour, so even an empty pattern is not a blank tile.
    for (int i = 0; i < Size; ++i) {
        image.setPixel(i, 0, inkRgb);
        image.setPixel(i, Size - 1, inkRgb);
        image.setPixel(0, i, inkRgb);
        image.setPixel(Size - 1, i, inkRgb);
    }

    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return QByteArray();
    return out;
}

QByteArray cachedPng(const QString &name)
{
    // About 300 bytes a tile: room for some ten thousand packages.
    static ByteCache cache(4 * 1024 * 1024);
    return cachedPng(cache, name);
}

QByteArray cachedPng(ByteCache &cache, const QString &name)
{
    return cache.value(name.toUtf8(), [&name](bool *keep) {
        QByteArray tile = png(name);
        *keep = !tile.isEmpty();
        return tile;
    });
}

} // namespace Thumbnail
