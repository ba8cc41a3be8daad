// The digest calculators against the reference vectors, without Qt, so that the
// same source builds for the handsets' ARM and runs there under qemu-user.
//   digestvectors [--portable] DIR     (DIR holds the *.rsp files)
// --portable forbids the CPU's SHA instructions, so that both paths meet the vectors
// on a CPU that has them.
#include "Md5Calc.h"
#include "rspfile.h"
#include "Sha1Calc.h"
#include "Sha256Calc.h"
#include "ShaExtCalc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

int g_passed = 0;
int g_failed = 0;

void expect(bool ok, const std::string &what)
{
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAIL: %s\n", what.c_str());
    }
}

Bytes fromHex(const std::string &hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back((unsigned char)std::stoul(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string toHex(const unsigned char *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

// One calculator behind a common face: absorb, read Value, start over.
struct Algo
{
    const char *name;
    const char *prefix; // file name prefix of its vectors
    size_t size;
    std::function<void()> reset;
    std::function<long(const unsigned char *, long)> absorb;
    std::function<const unsigned char *()> value;
    std::function<void(uint32_t, uint32_t)> setCount;
    std::function<void(uint32_t *, uint32_t *)> count;
    std::function<std::string()> record;
};

Sha256Calc g_sha256;
Sha1Calc g_sha1;
Md5Calc g_md5;

template <typename R> std::string recordBytes(const R &r)
{
    return std::string(reinterpret_cast<const char *>(&r), sizeof r);
}

#define ALGO(NAME, PREFIX, REC, FN)                                                                          \
    Algo                                                                                                     \
    {                                                                                                        \
        NAME, PREFIX, sizeof REC.Value, [] { FN##_reset(&REC); },                                            \
            [](const unsigned char *p, long n) { return (long)FN##_calculate(&REC, (SZ_CHAR *)p, n); },      \
            [] { return (const unsigned char *)REC.Value; },                                                 \
            [](uint32_t lo, uint32_t hi) {                                                                   \
                REC.ByteNumLo = (SZ_INT)lo;                                                                  \
                REC.ByteNumHi = (SZ_INT)hi;                                                                  \
            },                                                                                               \
            [](uint32_t *lo, uint32_t *hi) {                                                                 \
                *lo = (uint32_t)REC.ByteNumLo;                                                               \
                *hi = (uint32_t)REC.ByteNumHi;                                                               \
            },                                                                                               \
            [] { return recordBytes(REC); }                                                                  \
    }

std::vector<Algo> algos()
{
    Sha256Calc_init(&g_sha256);
    Sha1Calc_init(&g_sha1);
    Md5Calc_init(&g_md5);
    return {ALGO("SHA-256", "SHA256", g_sha256, Sha256Calc), ALGO("SHA-1", "SHA1", g_sha1, Sha1Calc),
            ALGO("MD5", "MD5", g_md5, Md5Calc)};
}

using Field = std::pair<std::string, std::string>;

bool readFields(const std::string &path, std::vector<Field> *fields)
{
    return readRspFile(path, fields);
}

std::string digest(Algo &a, const Bytes &msg)
{
    a.reset();
    a.absorb(msg.data(), long(msg.size()));
    return toHex(a.value(), a.size);
}

// Len / Msg / MD: one call, then the same message in uneven pieces.
void messages(Algo &a, const std::string &path)
{
    std::vector<Field> fields;
    if (!readFields(path, &fields)) {
        expect(false, "cannot read " + path);
        return;
    }
    long bits = -1;
    Bytes msg;
    int vectors = 0;
    for (const Field &f : fields) {
        if (f.first == "Len") {
            bits = std::stol(f.second);
        } else if (f.first == "Msg") {
            msg = fromHex(f.second);
            msg.resize(size_t(bits / 8));
        } else if (f.first == "MD") {
            const std::string what = std::string(a.name) + " " + path + " Len=" + std::to_string(bits);
            expect(digest(a, msg) == f.second, what);
            a.reset();
            size_t done = 0;
            for (size_t piece = 1; done < msg.size(); piece = piece * 3 % 67 + 1) {
                const size_t n = std::min(piece, msg.size() - done);
                a.absorb(msg.data() + done, long(n));
                done += n;
            }
            expect(toHex(a.value(), a.size) == f.second, what + " in pieces");
            ++vectors;
        }
    }
    expect(vectors > 0, "no vectors in " + path);
}

// Seed, then COUNT / MD checkpoints of the byte-oriented Monte Carlo test.
void monte(Algo &a, const std::string &path)
{
    std::vector<Field> fields;
    if (!readFields(path, &fields)) {
        expect(false, "cannot read " + path);
        return;
    }
    Bytes seed;
    for (const Field &f : fields) {
        if (f.first == "Seed") {
            seed = fromHex(f.second);
        } else if (f.first == "MD") {
            Bytes md[3] = {seed, seed, seed};
            for (int i = 3; i < 1003; ++i) {
                Bytes msg;
                for (const Bytes &m : md)
                    msg.insert(msg.end(), m.begin(), m.end());
                a.reset();
                a.absorb(msg.data(), long(msg.size()));
                md[0] = md[1];
                md[1] = md[2];
                md[2] = Bytes(a.value(), a.value() + a.size);
            }
            seed = md[2];
            expect(toHex(seed.data(), seed.size()) == f.second, std::string(a.name) + " Monte COUNT");
        }
    }
}

// The byte count crosses 32 bits in the record's two words, and the 2^61 limit holds,
// whatever the width of long.
void counters(Algo &a)
{
    const unsigned char byte = 'x';
    uint32_t lo = 0, hi = 0;
    a.reset();
    a.setCount(0xFFFFFFFFu, 0);
    expect(a.absorb(&byte, 1) == 0, std::string(a.name) + " carry accepted");
    a.count(&lo, &hi);
    expect(lo == 0 && hi == 1, std::string(a.name) + " carry into the high word");

    a.reset();
    a.setCount(0xFFFFFFFFu, 0x1FFFFFFFu);
    const std::string before = a.record();
    expect(a.absorb(&byte, 1) != 0, std::string(a.name) + " 2^61 bytes refused");
    expect(a.record() == before, std::string(a.name) + " refused call leaves the record");
    expect(a.absorb(&byte, -1) != 0, std::string(a.name) + " negative length refused");
    expect(a.absorb(&byte, 0) == 0, std::string(a.name) + " empty call at the limit accepted");
}

} // namespace

int main(int argc, char **argv)
{
    const bool portable = argc == 3 && std::strcmp(argv[1], "--portable") == 0;
    if (argc != 2 && !portable) {
        std::fprintf(stderr, "usage: digestvectors [--portable] DIR\n");
        return 2;
    }
    const std::string dir = argv[argc - 1];
    if (portable)
        ShaExtCalc_allow(0);
    // Set where the CPU is known (the arm64 build under qemu-aarch64 -cpu max): a detection
    // that finds nothing there would leave the instruction path untested.
    if (const char *expected = std::getenv("ZELKO_EXPECT_SHA_INSTRUCTIONS"))
        expect(ShaExtCalc_available() == std::atoi(expected), "SHA instructions detected as expected");
    std::printf("long is %u bits, SZ_INT %u bits, pointers %u bits; SHA instructions: %s\n",
                unsigned(sizeof(long) * 8), unsigned(sizeof(SZ_INT) * 8), unsigned(sizeof(void *) * 8),
                ShaExtCalc_inUse()       ? "in use"
                : ShaExtCalc_available() ? "forbidden"
                                         : "not available");
    for (Algo &a : algos()) {
        if (std::strcmp(a.prefix, "MD5") == 0) {
            messages(a, dir + "/MD5rfc1321.rsp");
        } else {
            messages(a, dir + "/" + a.prefix + "ShortMsg.rsp");
            messages(a, dir + "/" + a.prefix + "LongMsg.rsp");
            monte(a, dir + "/" + a.prefix + "Monte.rsp");
        }
        counters(a);
    }
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
