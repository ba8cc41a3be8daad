#include "zelkoframereport.h"
#include "bytereader.h"
#include "decompressmethods.h"
#include "zelkologging.h"

#include <QDebug>

#include <new>
#include <utility>

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

namespace {

// An array made with fromRawData has no capacity: it does not own its bytes.
bool ownsBytes(const QByteArray &bytes)
{
    return bytes.capacity() >= bytes.size();
}

} // namespace

qint64 ZelkoFrameReport::readResourceBlock(ByteReader &content, QVector<Resource> *resources,
                                           const QByteArray &source)
{
    // The block's own reasons to stop ("ResBuffer size is too short", and
    // "resource count not same before parse and after parse!" once every entry
    // is kept anyway) are never shown, so nothing here records them.
    qint64 declared = -1;
    try {
        // The content as a whole, the flag byte included, must hold a length field.
        if (content.size() < 4)
            return declared;
        const qint64 dataLen = content.integer(4);
        if (dataLen == 0)
            return declared;
        declared = content.integer(4);
        const ByteReader::Span area = content.span(dataLen - 4);
        if (area.size == 0)
            return declared;
        // The entries slice the source, which they keep alive, where the block is at least half
        // of it, so that a small resource never holds a large text; otherwise a copy of the block.
        QByteArray block;
        qsizetype base = 0;
        if (ownsBytes(source) && qint64(area.size) * 2 >= source.size()) {
            block = source;
            base = area.data - source.constData();
        } else {
            block = QByteArray(area.data, area.size);
        }
        // Counted first, so that the list is made once at its size; the declared count is not trusted.
        int count = 0;
        for (ByteReader counter(area.data, area.data + area.size); !counter.atEnd(); ++count) {
            counter.skip(counter.integer(1));
            counter.integer(1);
            counter.skip(counter.integer(4));
        }
        try {
            resources->reserve(resources->size() + count);
        } catch (const std::bad_alloc &) {
            // Then one at a time, as many as fit.
        }
        ByteReader entries(area.data, area.data + area.size);
        while (!entries.atEnd()) {
            // Appended whole: memory running out ends the block with the last entry read.
            Resource entry;
            entry.id = entries.latin1String(1);
            entry.type = int(entries.integer(1));
            const ByteReader::Span bytes = entries.span(entries.integer(4));
            if (bytes.size > 0)
                entry.data = ByteSlice(block, base + (bytes.data - area.data), bytes.size);
            resources->append(std::move(entry));
        }
    } catch (...) {
    }
    return declared;
}

ZelkoFrameReport ZelkoFrameReport::decode(const QByteArray &data)
{
    ZelkoFrameReport report;
    // Held for the whole pass, and after it by the resources that slice it: plain
    // content, the compressed stream and the entries area are read in place.
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
        // Plain content is read in the frame; inflated content is an array of its own.
        QByteArray inflated;
        ByteReader::Span content{nullptr, 0};
        if (report.compressFlag == 0) {
            content = in.span(report.originalLen);
        } else if (report.compressFlag == 2) {
            report.compressedLen = in.integer(4);
            QByteArray compressed = in.view(report.compressedLen);
            report.packedBytes = compressed.size();
            inflated = DecompressMethods::ZlibDecompress(&compressed, report.originalLen);
            content = {inflated.constData(), int(inflated.size())};
        } else {
            throw CompressFlagInvalid;
        }
        report.contentBytes = content.size;
        if (content.size == 0)
            throw ContentDataError;

        ByteReader body(content.data, content.data + content.size);
        report.resourceFlag = int(body.integer(1));
        if (report.resourceFlag != 0)
            report.declaredResources =
                readResourceBlock(body, &report.resources, report.compressFlag == 0 ? frame : inflated);
        report.jsonLen = body.integer(4);
        // Pointer and size: zero bytes decode to U+0000 instead of ending the text.
        const ByteReader::Span text = body.span(report.jsonLen);
        report.jsonBytes = text.size;
        report.json = QString::fromUtf8(text.data, text.size);
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
