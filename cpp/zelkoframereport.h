#ifndef ZELKOFRAMEREPORT_H
#define ZELKOFRAMEREPORT_H

#include "byteslice.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class ByteReader;

// Everything one pass over a service response frame found. The pass touches
// nothing else: arrived() stores the resources in the cache and turns the rest
// into signals; frame tools print it. Counts are -1 where the pass did not reach.
struct ZelkoFrameReport
{
    // Why a frame did not decode; failureText() gives the decoder's reason text.
    enum Failure {
        NoFailure,
        BufferTooShort,
        HeadInvalid,
        ServiceError,
        CompressFlagInvalid,
        ContentDataError,
        DecodingAborted
    };

    struct Resource
    {
        QString id;
        int type = 0;
        // In the frame, or its inflated content, which it keeps alive.
        ByteSlice data;
    };

    bool hasRecord = false; // false only for a frame too short to have a header
    qint64 head = 0;
    int serviceType = 0;
    int errorCode = 0;
    int compressFlag = -1;
    qint64 originalLen = -1;
    qint64 compressedLen = -1; // declared; only for compressed content
    qint64 packedBytes = -1;   // compressed bytes actually present
    qint64 contentBytes = -1;  // content size after inflating
    int resourceFlag = -1;
    qint64 declaredResources = -1; // the block's resCount
    QVector<Resource> resources;   // in block order, as they go to the cache
    qint64 jsonLen = -1;           // declared
    qint64 jsonBytes = -1;         // present
    QString json;
    qint64 frameBytesRead = 0;    // of the frame: header and content
    qint64 contentBytesRead = -1; // of the content: flag, block and JSON text
    Failure failure = NoFailure;

    bool ok() const { return failure == NoFailure; }
    // Empty when the frame decoded.
    QString failureText() const { return failureText(failure, errorCode); }
    static QString failureText(Failure failure, int errorCode);

    static ZelkoFrameReport decode(const QByteArray &frame);

    // Reads the resource block at the content's position into resources and
    // returns its declared count, -1 when none was read. Never fails outward:
    // a bad block costs only its own entries, and the content's position ends
    // where the JSON text is read. content reads the bytes of source, which the
    // entries' data may slice.
    static qint64 readResourceBlock(ByteReader &content, QVector<Resource> *resources,
                                    const QByteArray &source);
};

Q_DECLARE_TYPEINFO(ZelkoFrameReport::Resource, Q_MOVABLE_TYPE);

#endif // ZELKOFRAMEREPORT_H
