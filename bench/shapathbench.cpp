// The two SHA paths of the digest calculators against each other: the CPU's SHA
// instructions (x86 SHA extensions, ARMv8 SHA1/SHA2) and the portable block
// functions, on the same messages. Only the ratio says something under qemu-user
// (scripts/cross.sh runs it there), where absolute times are the emulator's.

#include "benchsupport.h"
#include "digestloop.h"

#include "Sha1Calc.h"
#include "Sha256Calc.h"
#include "ShaExtCalc.h"

#include <string>
#include <vector>

namespace {

bool g_smoke = false;

std::string key(const char *path, const char *algo, size_t size, bool pieces)
{
    return std::string(path) + "/" + algo + "/" + std::to_string(size) + (pieces ? "/pieces" : "/whole");
}

} // namespace

int main(int argc, char **argv)
{
    g_smoke = bench::takeSmokeFlag(argc, argv);
    const size_t size = g_smoke ? 256 : 16384;
    if (!ShaExtCalc_available())
        std::printf("this CPU has no SHA instructions: both columns are the portable path\n");
    for (const char *path : {"instructions", "portable"}) {
        const bool portable = std::string(path) == "portable";
        for (bool pieces : {false, true}) {
            benchmark::RegisterBenchmark(
                key(path, "SHA-256", size, pieces).c_str(),
                bench::calculatorLoop<Sha256Calc, Sha256Calc_init, Sha256Calc_reset, Sha256Calc_calculate>,
                size, pieces, portable);
            benchmark::RegisterBenchmark(
                key(path, "SHA-1", size, pieces).c_str(),
                bench::calculatorLoop<Sha1Calc, Sha1Calc_init, Sha1Calc_reset, Sha1Calc_calculate>, size,
                pieces, portable);
        }
    }

    std::vector<char *> args = bench::benchmarkArgs(argc, argv, g_smoke, 3, 0.2);
    int n = int(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    for (const char *algo : {"SHA-256", "SHA-1"}) {
        for (bool pieces : {false, true}) {
            const double ext = collector.nsPerIteration(key("instructions", algo, size, pieces));
            const double plain = collector.nsPerIteration(key("portable", algo, size, pieces));
            const double ratio = ext > 0 ? plain / ext : 0;
            const std::string measure =
                std::string(algo) + " "
                + (size >= 1024 ? std::to_string(size / 1024) + " KiB" : std::to_string(size) + " B") + ", "
                + (pieces ? "64 B pieces" : "one call") + ", SHA path";
            bench::row(measure, bench::fmt("%.0f ns", ext), bench::fmt("%.0f ns portable", plain),
                       bench::fmt("%.2fx", ratio), ">= 1.0x",
                       g_smoke || !ShaExtCalc_available() ? "smoke" : bench::verdict(ratio >= 1.0));
        }
    }
    benchmark::Shutdown();
    return 0;
}
