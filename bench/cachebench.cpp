// The resource cache under the traffic it sees: stores from decoded frames and
// reads from the image provider, a few popular keys taking most of them.

#include "benchsupport.h"
#include "resourcesmap.h"

#include <QCache>
#include <QCoreApplication>
#include <QString>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

bool g_smoke = false;
const int Keys = 1000;

struct Op
{
    bool store;
    int key;
};

struct Trace
{
    QVector<QString> keys;
    QVector<QByteArray> values;
    std::vector<Op> ops;
};

// Zipf with exponent 1 over the keys, half stores and half reads, fixed seed.
const Trace &trace()
{
    static const Trace t = [] {
        Trace made;
        for (int i = 0; i < Keys; ++i) {
            made.keys.append(QStringLiteral("thumb/%1.png").arg(i, 4, 10, QLatin1Char('0')));
            made.values.append(QByteArray(1024 + i % 7 * 512, char('a' + i % 26)));
        }
        std::vector<double> cdf(Keys);
        double sum = 0;
        for (int i = 0; i < Keys; ++i)
            cdf[size_t(i)] = sum += 1.0 / (i + 1);
        std::mt19937 rng(1207);
        std::uniform_real_distribution<double> uniform(0, sum);
        const size_t n = g_smoke ? 256 : 1 << 16;
        made.ops.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            const int key = int(std::lower_bound(cdf.begin(), cdf.end(), uniform(rng)) - cdf.begin());
            made.ops.push_back({(rng() & 1) != 0, std::min(key, Keys - 1)});
        }
        return made;
    }();
    return t;
}

void BM_ResourcesMap(benchmark::State &state)
{
    const Trace &t = trace();
    ResourcesMap *cache = ResourcesMap::getInstance();
    qint64 hits = 0;
    for (auto _ : state) {
        for (const Op &op : t.ops) {
            if (op.store) {
                cache->setData(t.keys[op.key], t.values[op.key]);
            } else {
                const QByteArray data = cache->data(t.keys[op.key]);
                hits += !data.isEmpty();
            }
        }
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations() * qint64(t.ops.size()));
}

void BM_QCache(benchmark::State &state)
{
    const Trace &t = trace();
    QCache<QString, QByteArray> cache(ResourcesMap::Capacity);
    qint64 hits = 0;
    for (auto _ : state) {
        for (const Op &op : t.ops) {
            if (op.store) {
                cache.insert(t.keys[op.key], new QByteArray(t.values[op.key]));
            } else {
                const QByteArray *found = cache.object(t.keys[op.key]);
                const QByteArray data = found ? *found : QByteArray();
                hits += !data.isEmpty();
            }
        }
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations() * qint64(t.ops.size()));
}

BENCHMARK(BM_ResourcesMap);
BENCHMARK(BM_QCache);

} // namespace

int main(int argc, char **argv)
{
    g_smoke = bench::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);
    trace();

    std::vector<char *> args = bench::benchmarkArgs(argc, argv, g_smoke, 5);
    int n = int(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    const double ops = double(trace().ops.size());
    const double ours = collector.nsPerIteration("BM_ResourcesMap"),
                 ref = collector.nsPerIteration("BM_QCache");
    const double oursRate = ours > 0 ? ops / ours * 1e3 : 0, refRate = ref > 0 ? ops / ref * 1e3 : 0;
    const double ratio = refRate > 0 ? oursRate / refRate : 0;
    bench::row("Resource cache, Zipf store/read on 1000 keys, capacity 100 (vs QCache)",
               bench::fmt("%.2f Mops/s", oursRate), bench::fmt("%.2f Mops/s", refRate),
               bench::fmt("%.2fx", ratio), ">= 1.0x", g_smoke ? "smoke" : bench::verdict(ratio >= 1.0));
    benchmark::Shutdown();
    return 0;
}
