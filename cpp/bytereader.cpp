#include "bytereader.h"

#include <cstring>

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
