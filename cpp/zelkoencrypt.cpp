#include "zelkoencrypt.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <zlib.h>

namespace {

const char *const KEY = "5C3A9E17D0B84F26A1E3C7B95D08F4A2E6C1B739";

QByteArray keyBytes()
{
    return QString::fromLatin1(KEY).toUtf8();
}

QByteArray getMD5(QByteArray arr)
{
    return QCryptographicHash::hash(arr, QCryptographicHash::Md5).toHex();
}

QByteArray getSha1(QByteArray arr)
{
    return QCryptographicHash::hash(arr, QCryptographicHash::Sha1).toHex();
}

unsigned long getCRC(QByteArray arr)
{
    const unsigned long crc = crc32(0L, Z_NULL, 0);
    return crc32(crc, reinterpret_cast<const Bytef *>(arr.constData()), static_cast<uInt>(arr.size()));
}

inline QByteArray getKey()
{
    // The SHA-1 text is hex-encoded a second time on purpose: the client
    // expects the 80-character form.
    return getSha1(keyBytes()).toHex();
}

QByteArray ed(QByteArray data, QByteArray key)
{
    QByteArray result = data;
    const int keylen = key.size();
    for (int i = 0; i < data.size(); ++i) {
        // An empty key adds nothing instead of dividing by zero.
        const quint8 k = keylen > 0 ? static_cast<quint8>(key.at(i % keylen)) : 0;
        const quint8 in = static_cast<quint8>(data.at(i));
        result[i] = static_cast<char>(static_cast<quint8>((in ^ 0x5A) + k + keylen));
    }
    return result;
}

} // namespace

ZelkoEncrypt::ZelkoEncrypt(QObject *parent)
    : QObject(parent)
{
}

int ZelkoEncrypt::zelkoLib_getCrc32(QString str)
{
    return static_cast<int>(static_cast<quint32>(getCRC(str.toUtf8())));
}

QString ZelkoEncrypt::zelkoLib_getKey()
{
    return QString::fromLatin1(getKey());
}

QString ZelkoEncrypt::zelkoLib_getEncryptString(QString str)
{
    const QByteArray keyMd5Lower = getMD5(keyBytes()).toLower();
    const QByteArray keyMd5LowerSha1Upper = getSha1(keyMd5Lower).toUpper();
    const QByteArray sourceMd5Lower = getMD5(str.toUtf8()).toLower();
    return QString::fromLatin1(getMD5(keyMd5LowerSha1Upper + sourceMd5Lower));
}

QString ZelkoEncrypt::zelkoLib_getEncryptParam(QString str, QString key)
{
    const QByteArray r1 = ed(str.toUtf8(), key.toUtf8());
    const unsigned long crc = getCRC(r1);
    // The service expects this byte order: lowest byte, then highest down.
    QByteArray arr;
    arr.reserve(4 + r1.size());
    arr.append(static_cast<char>(crc & 0xff));
    arr.append(static_cast<char>((crc >> 24) & 0xff));
    arr.append(static_cast<char>((crc >> 16) & 0xff));
    arr.append(static_cast<char>((crc >> 8) & 0xff));
    arr.append(r1);
    return QString::fromLatin1(arr.toHex());
}
