// The decoding pass of arrived(), cache stores included, beside the least any
// decoder must do with the same frame.

#include "benchframes.h"
#include "benchsupport.h"
#include "resourcesmap.h"
#include "zelkoframereport.h"

#include <QCoreApplication>

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

bool g_smoke = false;

struct Fixture
{
    BenchFrames::Built compressed; // 1 MiB, 100 PNG resources
    BenchFrames::Built plain;      // 64 KiB, 20 PNG resources
};

const Fixture &fixture()
{
    static const Fixture f = [] {
        Fixture made;
        const int big = g_smoke ? 3 : 100, small = g_smoke ? 2 : 20;
        const auto pngs = BenchFrames::pngResources(big, g_smoke ? 300 : 10280);
        made.compressed = BenchFrames::build(pngs, BenchFrames::resultJson(pngs, 8192), true);
        const auto icons = BenchFrames::pngResources(small, g_smoke ? 200 : 2950);
        made.plain = BenchFrames::build(icons, BenchFrames::resultJson(icons, 2048), false);
        return made;
    }();
    return f;
}

void decode(benchmark::State &state, const BenchFrames::Built &built)
{
    ResourcesMap *cache = ResourcesMap::getInstance();
    for (auto _ : state) {
        ZelkoFrameReport report = ZelkoFrameReport::decode(built.frame);
        const int decoded = report.resources.size();
        cache->store(std::move(report.resources));
        benchmark::DoNotOptimize(report);
        if (!report.ok() || decoded != built.resourceSpans.size())
            state.SkipWithError("frame did not decode");
    }
    state.SetBytesProcessed(state.iterations() * built.frame.size());
}

void BM_CompressedOurs(benchmark::State &state)
{
    decode(state, fixture().compressed);
}

// Inflate into a buffer of the known size, then give each resource its own copy.
void BM_CompressedFloor(benchmark::State &state)
{
    const BenchFrames::Built &built = fixture().compressed;
    const auto *stream = reinterpret_cast<const Bytef *>(built.frame.constData() + built.streamOffset);
    for (auto _ : state) {
        QByteArray content(built.content.size(), Qt::Uninitialized);
        uLongf length = uLongf(content.size());
        if (uncompress(reinterpret_cast<Bytef *>(content.data()), &length, stream, uLong(built.streamLength))
            != Z_OK)
            state.SkipWithError("inflate failed");
        std::vector<QByteArray> copies;
        copies.reserve(size_t(built.resourceSpans.size()));
        for (const auto &span : built.resourceSpans)
            copies.emplace_back(content.constData() + span.first, span.second);
        benchmark::DoNotOptimize(copies.data());
    }
    state.SetBytesProcessed(state.iterations() * built.frame.size());
}

void BM_PlainOurs(benchmark::State &state)
{
    decode(state, fixture().plain);
}

void BM_PlainFloor(benchmark::State &state)
{
    const QByteArray &frame = fixture().plain.frame;
    std::vector<char> copy(size_t(frame.size()));
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.constData(), size_t(frame.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.size());
}

BENCHMARK(BM_CompressedOurs);
BENCHMARK(BM_CompressedFloor);
BENCHMARK(BM_PlainOurs);
BENCHMARK(BM_PlainFloor);

} // namespace

int main(int argc, char **argv)
{
    g_smoke = bench::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);
    fixture();

    std::vector<char *> args = bench::benchmarkArgs(argc, argv, g_smoke, 5);
    int n = int(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    const Fixture &f = fixture();
    auto compare = [&](const std::string &measure, const char *ours, const char *floor, double target) {
        const double o = collector.nsPerIteration(ours), r = collector.nsPerIteration(floor);
        const double ratio = r > 0 ? o / r : 0;
        bench::row(measure, bench::fmt("%.1f us", o / 1000), bench::fmt("%.1f us", r / 1000),
                   bench::fmt("%.2fx", ratio), bench::fmt("<= %.1fx", target),
                   g_smoke ? "smoke" : bench::verdict(ratio > 0 && ratio <= target));
    };
    compare("Decode " + std::to_string(f.compressed.frame.size() / 1024) + " KiB compressed frame, "
                + std::to_string(f.compressed.resourceSpans.size()) + " PNG (vs inflate + copies)",
            "BM_CompressedOurs", "BM_CompressedFloor", 1.2);
    compare("Decode " + std::to_string(f.plain.frame.size() / 1024) + " KiB plain frame, "
                + std::to_string(f.plain.resourceSpans.size()) + " PNG (vs memcpy of frame)",
            "BM_PlainOurs", "BM_PlainFloor", 2.5);
    benchmark::Shutdown();
    return 0;
}
