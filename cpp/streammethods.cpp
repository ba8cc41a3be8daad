#include "streammethods.h"

#include <zlib.h>

namespace {

qint64 readLittleEndian(QBuffer *buffer, int width)
{
    // Straight into a local array: integers are the most frequent fields.
    unsigned char bytes[4];
    const qint64 got = buffer ? buffer->read(reinterpret_cast<char *>(bytes), width) : 0;
    // Missing bytes are the high-order ones, so a short read is the full
    // value with those bytes taken as zero.
    qint64 value = 0;
    for (qint64 i = got - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

QString latin1UpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromLatin1(bytes.constData(), zero < 0 ? bytes.size() : zero);
}

} // namespace

StreamMethods::StreamMethods(QObject *parent)
    : QObject(parent)
{
}

QByteArray StreamMethods::getNBytesFromBuffer(QBuffer *buffer, qint64 length)
{
    if (!buffer || length < 1)
        return QByteArray();
    // QBuffer::read(qint64) reserves the requested size up front; a length
    // field from the wire must only cost what is really left.
    const qint64 wanted = qMin(length, buffer->bytesAvailable());
    if (wanted < 1)
        return QByteArray();
    return buffer->read(wanted);
}

qint64 StreamMethods::getIntFromB(QBuffer *buffer)
{
    return readLittleEndian(buffer, 1);
}

qint64 StreamMethods::getIntFrom2B(QBuffer *buffer)
{
    return readLittleEndian(buffer, 2);
}

qint64 StreamMethods::getIntFrom4B(QBuffer *buffer)
{
    return readLittleEndian(buffer, 4);
}

QString StreamMethods::getStrFromB(QBuffer *buffer)
{
    const qint64 length = getIntFromB(buffer);
    if (length < 1)
        return QString();
    return latin1UpToZero(getNBytesFromBuffer(buffer, length));
}

QString StreamMethods::getStrFrom2B(QBuffer *buffer)
{
    const qint64 length = getIntFrom2B(buffer);
    if (length < 1)
        return QString();
    return latin1UpToZero(getNBytesFromBuffer(buffer, length));
}

QString StreamMethods::getStrFrom4B(QBuffer *buffer)
{
    const qint64 length = getIntFrom4B(buffer);
    if (length < 1)
        return QString();
    // The pointer/size overload: the QByteArray one would stop at a zero byte.
    const QByteArray bytes = getNBytesFromBuffer(buffer, length);
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

QByteArray StreamMethods::getByteArrayFrom4B(QBuffer *buffer)
{
    const qint64 length = getIntFrom4B(buffer);
    if (length < 1)
        return QByteArray();
    return getNBytesFromBuffer(buffer, length);
}

unsigned long StreamMethods::getCrc32(QByteArray buf)
{
    return crc32(crc32(0L, Z_NULL, 0),
                 reinterpret_cast<const Bytef *>(buf.constData()),
                 static_cast<uInt>(buf.size()));
}
