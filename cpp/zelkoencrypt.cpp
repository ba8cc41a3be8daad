#include "zelkoencrypt.h"
#include "zelkoscramble_p.h"

#include <QByteArray>
#include <QCryptographicHash>

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

inline QByteArray getKey()
{
    // The SHA-1 text is hex-encoded a second time on purpose: the client
    // expects the 80-character form.
    return getSha1(keyBytes()).toHex();
}

} // namespace

ZelkoEncrypt::ZelkoEncrypt(QObject *parent)
    : QObject(parent)
{
}

int ZelkoEncrypt::zelkoLib_getCrc32(QString str)
{
    return static_cast<int>(ZelkoScramble::crc32(str.toUtf8()));
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
    return ZelkoScramble::crcPrefixedHex(ZelkoScramble::withKeyLength(str.toUtf8(), key.toUtf8()),
                                         ZelkoScramble::ParamCrcOrder);
}
