#ifndef BYTEREADER_H
#define BYTEREADER_H

#include <QByteArray>
#include <QString>

// The field rules of the service's byte formats over bytes in memory. The
// StreamMethods slots apply them to a QBuffer; the frame decoder reads with
// them in place. The bytes must outlive the reader and every view it gives.
class ByteReader
{
public:
    ByteReader(const char *begin, const char *end)
        : m_begin(begin)
        , m_at(begin)
        , m_end(end)
    {
    }
    explicit ByteReader(const QByteArray &bytes)
        : ByteReader(bytes.constData(), bytes.constData() + bytes.size())
    {
    }

    qint64 size() const { return m_end - m_begin; }
    qint64 consumed() const { return m_at - m_begin; }
    bool atEnd() const { return m_at >= m_end; }

    // Unsigned little-endian of 1, 2 or 4 bytes; missing high-order bytes count as zero.
    // Inline: a frame's entries read several each.
    qint64 integer(int width)
    {
        const int got = int(qMin<qint64>(width, m_end - m_at));
        qint64 value = 0;
        for (int i = got - 1; i >= 0; --i)
            value = (value << 8) | quint8(m_at[i]);
        m_at += got;
        return value;
    }
    // Up to length bytes in place: where they start and how many there are.
    struct Span
    {
        const char *data;
        int size;
    };
    Span span(qint64 length)
    {
        const int n = take(length);
        return {m_at - n, n};
    }
    void skip(qint64 length) { take(length); }
    // Up to length bytes, viewed in place (QByteArray::fromRawData).
    QByteArray view(qint64 length);
    // A width-byte length, then up to that many bytes as Latin-1, cut before the first zero.
    QString latin1String(int width);
    // A 4-byte length, then up to that many bytes as UTF-8.
    QString utf8String4B();
    // A 4-byte length, then a copy of up to that many bytes.
    QByteArray byteArray4B();

private:
    int take(qint64 length)
    {
        // A length field from the wire only ever costs the bytes that are really there.
        const int n = length < 1 ? 0 : int(qMin<qint64>(length, m_end - m_at));
        m_at += n;
        return n;
    }

    const char *m_begin;
    const char *m_at;
    const char *m_end;
};

#endif // BYTEREADER_H
