#include "zelkoscramble_p.h"

#include <zlib.h>

#include <limits>

namespace ZelkoScramble {

namespace {

// An empty key adds nothing instead of dividing by zero.
inline quint8 keyByte(const QByteArray &key, int i)
{
    return key.isEmpty() ? 0 : static_cast<quint8>(key.at(i % key.size()));
}

inline char scrambled(quint8 in, quint8 add)
{
    return static_cast<char>(static_cast<quint8>((in ^ Mask) + add));
}

} // namespace

quint32 crc32(const QByteArray &bytes)
{
    return quint32(::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(bytes.constData()),
                           static_cast<uInt>(bytes.size())));
}

QByteArray ed(QByteArray data, QString key, int start, int length)
{
    QByteArray result(qMax(length, 0), '\0');
    // One byte per UTF-16 code unit, so indices match key.length().
    const QByteArray keyChars = key.toLatin1();
    for (int i = 0; i < length; ++i) {
        const qint64 pos = qint64(start) + i;
        if (pos < 0 || pos >= std::numeric_limits<int>::max())
            continue;
        const int p = static_cast<int>(pos);
        const quint8 in = p < data.size() ? static_cast<quint8>(data.at(p)) : 0;
        if (p >= result.size())
            result.append(QByteArray(p + 1 - result.size(), '\0'));
        result[p] = scrambled(in, keyByte(keyChars, i));
    }
    return result;
}

QByteArray withKeyLength(const QByteArray &data, const QByteArray &key)
{
    QByteArray result(data.size(), Qt::Uninitialized);
    const quint8 keyLength = static_cast<quint8>(key.size());
    for (int i = 0; i < data.size(); ++i)
        result[i] = scrambled(static_cast<quint8>(data.at(i)), quint8(keyByte(key, i) + keyLength));
    return result;
}

QString crcPrefixedHex(const QByteArray &scrambled, CrcOrder order)
{
    const quint32 crc = crc32(scrambled);
    QByteArray bytes;
    bytes.reserve(4 + scrambled.size());
    for (int shift : order.shifts)
        bytes.append(static_cast<char>((crc >> shift) & 0xff));
    bytes.append(scrambled);
    return QString::fromLatin1(bytes.toHex());
}

} // namespace ZelkoScramble
