#ifndef ZELKOSCRAMBLE_P_H
#define ZELKOSCRAMBLE_P_H

#include <QByteArray>
#include <QString>

// Internal to the library: the byte scrambling and CRC-32 behind the parameter
// encryption (ZelkoEncrypt) and the code encryption (DecompressMethods). The
// two differ in key bytes, a key-length step and the CRC byte order; the
// service that takes either form must undo it exactly as written here.
namespace ZelkoScramble {

// The byte every input byte is XORed with before its key byte is added.
constexpr quint8 Mask = 0x5A;

// The bit offsets of the CRC's bytes, in the order they precede the scrambled bytes.
struct CrcOrder
{
    int shifts[4];
};
constexpr CrcOrder ParamCrcOrder = {{0, 24, 16, 8}};
constexpr CrcOrder CodeCrcOrder = {{0, 24, 8, 16}};

// zlib's CRC-32 of the bytes.
quint32 crc32(const QByteArray &bytes);

// Scrambles data[start .. start + length - 1] into the same positions of the
// result; data beyond its end counts as zero bytes. Key bytes are the Latin-1
// form of the key, one per UTF-16 code unit ("?" above U+00FF).
QByteArray ed(QByteArray data, QString key, int start, int length);

// Every byte scrambled with the key's bytes and the key's length added.
QByteArray withKeyLength(const QByteArray &data, const QByteArray &key);

// Hex text of the scrambled bytes' CRC-32, its bytes in the given order, then of the bytes.
QString crcPrefixedHex(const QByteArray &scrambled, CrcOrder order);

} // namespace ZelkoScramble

#endif // ZELKOSCRAMBLE_P_H
