#include "thumbnail.h"

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
                        image.setPixel(margin + mirror * cell + x, margin + row * cell + y, ink.rgb());
            }
        }
    }
    // A frame in the ink colour, so even an empty pattern is not a blank tile.
    for (int i = 0; i < Size; ++i) {
        image.setPixel(i, 0, ink.rgb());
        image.setPixel(i, Size - 1, ink.rgb());
        image.setPixel(0, i, ink.rgb());
        image.setPixel(Size - 1, i, ink.rgb());
    }

    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return QByteArray();
    return out;
}

} // namespace Thumbnail
