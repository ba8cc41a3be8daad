#include "streammethods.h"

#include <zlib.h>

#include <cstring>

qint64 ByteReader::integer(int width)
{
    const int got = int(qMin<qint64>(width, m_end - m_at));
    qint64 value = 0;
    for (int i = got - 1; i >= 0; --i)
        value = (value << 8) | quint8(m_at[i]);
    m_at += got;
    return value;
}

int ByteReader::take(qint64 length)
{
    // A length field from the wire only ever costs the bytes that are really there.
    const int n = length < 1 ? 0 : int(qMin<qint64>(length, m_end - m_at));
    m_at += n;
    return n;
}

QByteArray ByteReader::view(qint64 length)
{
    const int n = take(length);
    return n > 0 ? QByteArray::fromRawData(m_at - n, n) : QByteArray();
}

QString ByteReader::latin1String(int width)
{
    const qint64 length = integer(width);
    if (length < 1)
        return QString();
    const int n = take(length);
    if (n < 1)
        return QString::fromLatin1("", 0);
    const char *bytes = m_at - n;
    const void *zero = std::memchr(bytes, 0, size_t(unsigned(n)));
    return QString::fromLatin1(bytes, zero ? int(static_cast<const char *>(zero) - bytes) : n);
}

QString ByteReader::utf8String4B()
{
    const qint64 length = integer(4);
    if (length < 1)
        return QString();
    // Pointer and size: zero bytes decode to U+0000 instead of ending the text.
    const int n = take(length);
    return QString::fromUtf8(n > 0 ? m_at - n : "", n);
}

QByteArray ByteReader::byteArray4B()
{
    const int n = take(integer(4));
    return n > 0 ? QByteArray(m_at - n, n) : QByteArray();
}

namespace {

// Applies one field rule at the buffer's position and moves the buffer past
// exactly the bytes it took.
template <typename Read>
auto readField(QBuffer *buffer, Read read) -> decltype(read(std::declval<ByteReader &>()))
{
    using Result = decltype(read(std::declval<ByteReader &>()));
    if (!buffer || !buffer->isReadable())
        return Result();
    const QByteArray &bytes = buffer->buffer();
    const qint64 at = qBound<qint64>(0, buffer->pos(), bytes.size());
    ByteReader reader(bytes.constData() + at, bytes.constData() + bytes.size());
    Result value = read(reader);
    if (reader.consumed() > 0)
        buffer->seek(at + reader.consumed());
    return value;
}

} // namespace

StreamMethods::StreamMethods(QObject *parent)
    : QObject(parent)
{
}

QByteArray StreamMethods::getNBytesFromBuffer(QBuffer *buffer, qint64 length)
{
    // A copy: the caller's buffer may change once this returns.
    return readField(buffer, [length](ByteReader &r) {
        const QByteArray inPlace = r.view(length);
        return QByteArray(inPlace.constData(), inPlace.size());
    });
}

qint64 StreamMethods::getIntFromB(QBuffer *buffer)
{
    return readField(buffer, [](ByteReader &r) { return r.integer(1); });
}

qint64 StreamMethods::getIntFrom2B(QBuffer *buffer)
{
    return readField(buffer, [](ByteReader &r) { return r.integer(2); });
}

qint64 StreamMethods::getIntFrom4B(QBuffer *buffer)
{
    return readField(buffer, [](ByteReader &r) { return r.integer(4); });
}

QString StreamMethods::getStrFromB(QBuffer *buffer)
{
    return readField(buffer, [](ByteReader &r) { return r.latin1String(1); });
}

QString StreamMethods::getStrFrom2B(QBuffer *buffer)
{
    return readField(buffer, [](ByteReader &r) { return r.latin1String(2); });
}

QString StreamMethods::getStrFrom4B(QBuffer *buffer)
{
    return readField(buffer, [](ByteReader &r) { return r.utf8String4B(); });
}

QByteArray StreamMethods::getByteArrayFrom4B(QBuffer *buffer)
{
    return readField(buffer, [](ByteReader &r) { return r.byteArray4B(); });
}

unsigned long StreamMethods::getCrc32(QByteArray buf)
{
    return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(buf.constData()),
                 static_cast<uInt>(buf.size()));
}
