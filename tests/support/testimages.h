#ifndef TESTIMAGES_H
#define TESTIMAGES_H

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>

// PNG bytes of a plain w×h image, as a service would send a thumbnail.
inline QByteArray pngBytes(int w, int h, const QColor &colour, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(w, h, format);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

#endif
