#ifndef DECOMPRESSMETHODS_H
#define DECOMPRESSMETHODS_H

#include <QObject>
#include <QByteArray>
#include <QString>

// Inflating the compressed content of a service response, and the code
// encryption that shares its class.
class DecompressMethods : public QObject
{
    Q_OBJECT
public:
    explicit DecompressMethods(QObject *parent);

    // Hard limit on the inflated size; a stream that inflates past it is
    // rejected rather than allowed to take unbounded memory.
    static constexpr qint64 MaxInflatedSize = 64 * 1024 * 1024;
    // The declared length is only a hint for the first output buffer and
    // comes from the wire: it is trusted up to what the input can inflate to
    // (deflate packs at most MaxDeflateRatio bytes into one), and when that
    // much memory cannot be had, only up to MaxInitialBufferSize.
    static constexpr qint64 MaxDeflateRatio = 1032;
    static constexpr qint64 MaxInitialBufferSize = 64 * 1024;

public slots:
    static QByteArray ZlibDecompress(QByteArray *compressedData, qint64 uncompressedLen);
    static QString ZelkoEncrypt(QString code, QString key);
};

#endif // DECOMPRESSMETHODS_H
