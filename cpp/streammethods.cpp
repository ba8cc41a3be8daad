#include "streammethods.h"
#include "zelkoscramble_p.h"

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
    return ZelkoScramble::crc32(buf);
}
