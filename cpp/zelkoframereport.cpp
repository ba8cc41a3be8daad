#include "zelkoframereport.h"
#include "bytereader.h"
#include "decompressmethods.h"
#include "zelkologging.h"

#include <QDebug>

QString ZelkoFrameReport::failureText(Failure failure, int errorCode)
{
    switch (failure) {
    case NoFailure:
        return QString();
    case BufferTooShort:
        return QStringLiteral("Buffer size is too short");
    case HeadInvalid:
        return QStringLiteral("Data head invalid");
    case ServiceError:
        return QStringLiteral("Service error code :%1").arg(errorCode);
    case CompressFlagInvalid:
        return QStringLiteral("Compress flag invalid");
    case ContentDataError:
        return QStringLiteral("Content Data error");
    case DecodingAborted:
        break;
    }
    return QStringLiteral("Decoding aborted");
}

qint64 ZelkoFrameReport::readResourceBlock(ByteReader &content, QList<Resource> *resources)
{
    // The block's own reasons to stop ("ResBuffer size is too short", and
    // "resource count not same before parse and after parse!" once every entry
    // is kept anyway) are never shown, so nothing here records them.
    qint64 declared = -1;
    bool entryCut = false;
    try {
        // The content as a whole, the flag byte included, must hold a length field.
        if (content.size() < 4)
            return declared;
        const qint64 dataLen = content.integer(4);
        if (dataLen == 0)
            return declared;
        declared = content.integer(4);
        const QByteArray area = content.view(dataLen - 4);
        ByteReader entries(area);
        while (!entries.atEnd()) {
            // Filled in place: every copy of a shared string or array is an atomic operation.
            entryCut = true;
            resources->append(Resource());
            Resource &entry = resources->last();
            entry.id = entries.latin1String(1);
            entry.type = int(entries.integer(1));
            entry.data = entries.byteArray4B();
            entryCut = false;
        }
    } catch (...) {
        // Memory ran out: the block ends with the last entry read whole.
        if (entryCut)
            resources->removeLast();
    }
    return declared;
}

ZelkoFrameReport ZelkoFrameReport::decode(const QByteArray &data)
{
    ZelkoFrameReport report;
    // Held for the whole pass: plain content, the compressed stream and the
    // entries area are read in place, and only what is kept is copied.
    const QByteArray frame = data;
    ByteReader in(frame);
    try {
        if (frame.size() < 10)
            throw BufferTooShort;

        report.hasRecord = true;
        report.head = in.integer(4);
        if (report.head != 0)
            throw HeadInvalid;
        report.serviceType = int(quint32(in.integer(4)));
        report.errorCode = int(in.integer(1));
        if (report.errorCode != 0)
            throw ServiceError;

        report.compressFlag = int(in.integer(1));
        report.originalLen = in.integer(4);
        QByteArray content;
        if (report.compressFlag == 0) {
            content = in.view(report.originalLen);
        } else if (report.compressFlag == 2) {
            report.compressedLen = in.integer(4);
            QByteArray compressed = in.view(report.compressedLen);
            report.packedBytes = compressed.size();
            content = DecompressMethods::ZlibDecompress(&compressed, report.originalLen);
        } else {
            throw CompressFlagInvalid;
        }
        report.contentBytes = content.size();
        if (content.isEmpty())
            throw ContentDataError;

        ByteReader body(content);
        report.resourceFlag = int(body.integer(1));
        if (report.resourceFlag != 0)
            report.declaredResources = readResourceBlock(body, &report.resources);
        report.jsonLen = body.integer(4);
        // Pointer and size: zero bytes decode to U+0000 instead of ending the text.
        const QByteArray text = body.view(report.jsonLen);
        report.jsonBytes = text.size();
        report.json = QString::fromUtf8(text.constData(), text.size());
        report.contentBytesRead = body.consumed();
    } catch (Failure failure) {
        report.failure = failure;
        if (failure == CompressFlagInvalid || failure == ContentDataError)
            qCDebug(zelkoFrame).noquote() << report.failureText();
    } catch (...) {
        // Anything a lower layer raises (memory exhaustion) fails the frame the same way.
        report.failure = DecodingAborted;
    }
    report.frameBytesRead = in.consumed();
    return report;
}
