#ifndef STREAMMETHODS_H
#define STREAMMETHODS_H

#include <QObject>
#include <QBuffer>
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
    qint64 integer(int width);
    // Up to length bytes, viewed in place (QByteArray::fromRawData).
    QByteArray view(qint64 length);
    // A width-byte length, then up to that many bytes as Latin-1, cut before the first zero.
    QString latin1String(int width);
    // A 4-byte length, then up to that many bytes as UTF-8.
    QString utf8String4B();
    // A 4-byte length, then a copy of up to that many bytes.
    QByteArray byteArray4B();

private:
    int take(qint64 length);

    const char *m_begin;
    const char *m_at;
    const char *m_end;
};

// Readers for the service's byte formats: little-endian unsigned integers,
// length-prefixed strings and byte blocks. They never fail: a field cut short
// by the end of the data yields what could be read, and the buffer advances by
// exactly the bytes obtained.
class StreamMethods : public QObject
{
    Q_OBJECT
public:
    explicit StreamMethods(QObject *parent);

public slots:
    static QByteArray getNBytesFromBuffer(QBuffer *buffer, qint64 length);
    static qint64 getIntFromB(QBuffer *buffer);
    static qint64 getIntFrom2B(QBuffer *buffer);
    static qint64 getIntFrom4B(QBuffer *buffer);
    static QString getStrFromB(QBuffer *buffer);
    static QString getStrFrom2B(QBuffer *buffer);
    static QString getStrFrom4B(QBuffer *buffer);
    static QByteArray getByteArrayFrom4B(QBuffer *buffer);
    static unsigned long getCrc32(QByteArray buf);
};

#endif // STREAMMETHODS_H
