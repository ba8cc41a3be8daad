// ZlibDecompress on raw bytes with a raw declared length, and the round trip of
// the same bytes through zlib's own compressor.
#include "decompressmethods.h"
#include "fuzzsupport.h"

#include <zlib.h>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInitialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    // The declared length is a wire field: any 32-bit value, as the decoder passes it.
    const qint64 declared =
        qint64(data[0]) | qint64(data[1]) << 8 | qint64(data[2]) << 16 | qint64(data[3]) << 24;
    QByteArray packed(reinterpret_cast<const char *>(data + 4), int(size - 4));
    const QByteArray out = DecompressMethods::ZlibDecompress(&packed, declared);
    FUZZ_CHECK(out.size() <= DecompressMethods::MaxInflatedSize);
    if (!out.isEmpty()) {
        // What we inflated, zlib must inflate to the same bytes.
        std::vector<Bytef> check(size_t(out.size()) + 1);
        uLongf checkLen = uLongf(check.size());
        uLong srcLen = uLong(packed.size());
        const int ret = uncompress2(check.data(), &checkLen,
                                    reinterpret_cast<const Bytef *>(packed.constData()), &srcLen);
        FUZZ_CHECK(ret == Z_OK);
        FUZZ_CHECK(checkLen == uLongf(out.size())
                   && memcmp(check.data(), out.constData(), size_t(out.size())) == 0);
    }

    // Any bytes, compressed by zlib, come back exactly, whatever length is declared.
    const QByteArray plain(reinterpret_cast<const char *>(data + 4), int(size - 4));
    if (!plain.isEmpty()) {
        QByteArray deflated = qCompress(plain).mid(4); // qCompress prefixes a 4-byte length
        FUZZ_CHECK(DecompressMethods::ZlibDecompress(&deflated, declared) == plain);
    }
    return 0;
}
