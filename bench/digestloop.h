#ifndef DIGESTLOOP_H
#define DIGESTLOOP_H

// What digestbench and shapathbench time alike: one of our calculators over one message.

#include "ShaExtCalc.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace bench {

constexpr size_t DigestPiece = 64;

// The same bytes for every program and every run.
inline std::vector<unsigned char> digestMessage(size_t size)
{
    std::vector<unsigned char> m(size);
    for (size_t i = 0; i < size; ++i)
        m[i] = static_cast<unsigned char>(i * 131 + 7);
    return m;
}

// pieces: the message in 64-byte calls, the digest so far in Value after each.
// portable: the CPU's SHA instructions forbidden for the run.
template <typename Record, SZ_T (*Init)(Record *), SZ_T (*Reset)(Record *),
          SZ_T (*Calculate)(Record *, SZ_CHAR *, SZ_T)>
void calculatorLoop(benchmark::State &state, size_t size, bool pieces, bool portable)
{
    const int allowed = ShaExtCalc_allow(!portable);
    std::vector<unsigned char> m = digestMessage(size);
    Record r;
    Init(&r);
    for (auto _ : state) {
        Reset(&r);
        SZ_CHAR *p = reinterpret_cast<SZ_CHAR *>(m.data());
        if (!pieces) {
            Calculate(&r, p, SZ_T(size));
        } else {
            for (size_t at = 0; at < size; at += DigestPiece)
                Calculate(&r, p + at, SZ_T(std::min(DigestPiece, size - at)));
        }
        benchmark::DoNotOptimize(r.Value);
    }
    ShaExtCalc_allow(allowed);
    state.SetBytesProcessed(state.iterations() * int64_t(size));
}

} // namespace bench

#endif
