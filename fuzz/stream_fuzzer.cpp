// A byte-driven sequence of stream reads over a byte-driven buffer: every reader
// must yield exactly the bytes it was able to take, and move by exactly those.
#include "fuzzsupport.h"
#include "streammethods.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QBuffer>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInitialize(argc, argv);
    return 0;
}

namespace {

// What an unsigned little-endian field of width bytes at pos must read as.
qint64 expectedInt(const QByteArray &bytes, qint64 pos, int width)
{
    qint64 value = 0;
    const qint64 end = qMin<qint64>(pos + width, bytes.size());
    for (qint64 i = end - 1; i >= pos; --i)
        value = (value << 8) | quint8(bytes.at(int(i)));
    return value;
}

qint64 taken(const QByteArray &bytes, qint64 pos, int width)
{
    return qMax<qint64>(0, qMin<qint64>(width, bytes.size() - pos));
}

QByteArray expectedBlock(const QByteArray &bytes, qint64 pos, qint64 length)
{
    if (length < 1 || pos >= bytes.size())
        return QByteArray();
    return bytes.mid(int(pos), int(qMin<qint64>(length, bytes.size() - pos)));
}

QString latin1UpToZero(const QByteArray &b)
{
    const int zero = b.indexOf('\0');
    return QString::fromLatin1(b.constData(), zero < 0 ? b.size() : zero);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider fdp(data, size);
    const int steps = fdp.ConsumeIntegralInRange<int>(0, 64);
    std::vector<std::pair<int, qint64>> program;
    for (int i = 0; i < steps; ++i) {
        const int op = fdp.ConsumeIntegralInRange<int>(0, 9);
        program.emplace_back(op, op == 7 ? fdp.ConsumeIntegral<qint64>() : fdp.ConsumeIntegral<quint16>());
    }
    const std::string rest = fdp.ConsumeRemainingBytesAsString();
    QByteArray bytes(rest.data(), int(rest.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);

    for (const auto &[op, arg] : program) {
        const qint64 pos = buffer.pos();
        qint64 moved = 0;
        switch (op) {
        case 0:
        case 1:
        case 2: {
            const int width = op == 0 ? 1 : op == 1 ? 2 : 4;
            const qint64 v = op == 0   ? StreamMethods::getIntFromB(&buffer)
                             : op == 1 ? StreamMethods::getIntFrom2B(&buffer)
                                       : StreamMethods::getIntFrom4B(&buffer);
            FUZZ_CHECK(v == expectedInt(bytes, pos, width));
            moved = taken(bytes, pos, width);
            break;
        }
        case 3:
        case 4:
        case 5: {
            const int width = op == 3 ? 1 : op == 4 ? 2 : 4;
            const QString s = op == 3   ? StreamMethods::getStrFromB(&buffer)
                              : op == 4 ? StreamMethods::getStrFrom2B(&buffer)
                                        : StreamMethods::getStrFrom4B(&buffer);
            const qint64 length = expectedInt(bytes, pos, width);
            const QByteArray body = expectedBlock(bytes, pos + taken(bytes, pos, width), length);
            FUZZ_CHECK(
                s == (op == 5 ? QString::fromUtf8(body.constData(), body.size()) : latin1UpToZero(body)));
            moved = taken(bytes, pos, width) + body.size();
            break;
        }
        case 6: {
            const QByteArray b = StreamMethods::getByteArrayFrom4B(&buffer);
            FUZZ_CHECK(b == expectedBlock(bytes, pos + taken(bytes, pos, 4), expectedInt(bytes, pos, 4)));
            moved = taken(bytes, pos, 4) + b.size();
            break;
        }
        case 7: {
            // Any length the wire can declare, negative and huge included.
            const QByteArray b = StreamMethods::getNBytesFromBuffer(&buffer, arg);
            FUZZ_CHECK(b == expectedBlock(bytes, pos, arg));
            moved = b.size();
            break;
        }
        case 8:
            buffer.seek(qMin<qint64>(arg, bytes.size()));
            moved = buffer.pos() - pos;
            break;
        case 9:
            // No buffer at all reads as nothing.
            FUZZ_CHECK(StreamMethods::getIntFrom4B(nullptr) == 0);
            FUZZ_CHECK(StreamMethods::getStrFrom2B(nullptr).isEmpty());
            FUZZ_CHECK(StreamMethods::getNBytesFromBuffer(nullptr, arg).isEmpty());
            break;
        }
        FUZZ_CHECK(buffer.pos() == pos + moved);
    }
    return 0;
}
