// The three digest calculators against themselves and OpenSSL: after every call
// Value must be the digest of all input so far, wherever the input was split, with
// either block function.
#include "Md5Calc.h"
#include "Sha1Calc.h"
#include "Sha256Calc.h"
#include "ShaExtCalc.h"
#include "fuzzsupport.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInitialize(argc, argv);
    return 0;
}

namespace {

template <typename R, SZ_T (*Init)(R *), SZ_T (*Reset)(R *), SZ_T (*Calculate)(R *, SZ_CHAR *, SZ_T)>
void check(const EVP_MD *md, std::vector<SZ_CHAR> &input, const std::vector<size_t> &splits)
{
    unsigned char expected[EVP_MAX_MD_SIZE];
    unsigned int expectedLen = 0;

    R whole;
    memset(&whole, 0x5A, sizeof whole);
    Init(&whole);
    FUZZ_CHECK(Calculate(&whole, input.data(), SZ_T(input.size())) == 0);
    FUZZ_CHECK(EVP_Digest(input.data(), input.size(), expected, &expectedLen, md, nullptr) == 1);
    FUZZ_CHECK(expectedLen == sizeof whole.Value);
    FUZZ_CHECK(memcmp(whole.Value, expected, expectedLen) == 0);

    // The same record again after reset, in pieces; each piece may be empty.
    FUZZ_CHECK(Reset(&whole) == 0);
    size_t done = 0;
    for (size_t cut : splits) {
        FUZZ_CHECK(Calculate(&whole, input.data() + done, SZ_T(cut - done)) == 0);
        done = cut;
        FUZZ_CHECK(EVP_Digest(input.data(), done, expected, &expectedLen, md, nullptr) == 1);
        FUZZ_CHECK(memcmp(whole.Value, expected, expectedLen) == 0);
    }
    FUZZ_CHECK(Calculate(&whole, input.data() + done, SZ_T(input.size() - done)) == 0);
    FUZZ_CHECK(EVP_Digest(input.data(), input.size(), expected, &expectedLen, md, nullptr) == 1);
    FUZZ_CHECK(memcmp(whole.Value, expected, expectedLen) == 0);
    // A negative length is refused and leaves the record as it was.
    R before = whole;
    FUZZ_CHECK(Calculate(&whole, input.data(), -1) != 0);
    FUZZ_CHECK(memcmp(&before, &whole, sizeof whole) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider fdp(data, size);
    const int cuts = fdp.ConsumeIntegralInRange<int>(0, 16);
    std::vector<uint16_t> raw;
    for (int i = 0; i < cuts; ++i)
        raw.push_back(fdp.ConsumeIntegral<uint16_t>());
    const std::vector<uint8_t> bytes = fdp.ConsumeRemainingBytes<uint8_t>();
    std::vector<SZ_CHAR> input(bytes.begin(), bytes.end());
    std::vector<size_t> splits;
    for (uint16_t r : raw)
        splits.push_back(input.empty() ? 0 : r % (input.size() + 1));
    std::sort(splits.begin(), splits.end());

#if SHAEXTCALC_X86
    // Both block functions where the CPU has the SHA instructions: those and the portable ones.
    for (int allowed : {1, 0}) {
        ShaExtCalc_allow(allowed);
#endif
        check<Sha256Calc, Sha256Calc_init, Sha256Calc_reset, Sha256Calc_calculate>(EVP_sha256(), input,
                                                                                   splits);
        check<Sha1Calc, Sha1Calc_init, Sha1Calc_reset, Sha1Calc_calculate>(EVP_sha1(), input, splits);
#if SHAEXTCALC_X86
    }
#endif
    check<Md5Calc, Md5Calc_init, Md5Calc_reset, Md5Calc_calculate>(EVP_md5(), input, splits);
    return 0;
}
