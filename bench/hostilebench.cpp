// Frames that lie: the memory and time the decoding pass spends on them, against
// the resident set before it. A process of its own, so that the readings are of
// this pass alone.

#include "benchframes.h"
#include "benchsupport.h"
#include "zelkoframereport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>

namespace {

QByteArray exactly(QByteArray frame, int size)
{
    if (frame.size() < size)
        frame.append(QByteArray(size - frame.size(), '\0'));
    return frame;
}

// 30 bytes in all, declaring 0xffffffff bytes of content.
QByteArray hugeDeclaredZlib()
{
    FrameWriter::Frame f;
    f.compressFlag = FrameWriter::Zlib;
    f.originalLen = 0xffffffffu;
    return exactly(FrameWriter::encode(f), 30);
}

QByteArray hugeDeclaredPlain()
{
    FrameWriter::Frame f;
    f.originalLen = 0xffffffffu;
    f.json = "{\"a\":\"bcd\"}";
    return exactly(FrameWriter::encode(f), 30);
}

struct Cost
{
    double peakOverBaselineMiB = 0, baselineMiB = 0, medianUs = 0;
};

Cost measure(const QByteArray &frame, int repeats)
{
    Cost c;
    bench::resetPeakRss();
    const long before = bench::rssKiB();
    const ZelkoFrameReport first = ZelkoFrameReport::decode(frame);
    c.peakOverBaselineMiB = (bench::peakRssKiB() - before) / 1024.0;
    c.baselineMiB = before / 1024.0;
    std::fprintf(stderr, "%lld-byte frame: %s\n", static_cast<long long>(frame.size()),
                 first.ok() ? "decoded" : qPrintable(first.failureText()));

    std::vector<double> us;
    QElapsedTimer clock;
    for (int i = 0; i < repeats; ++i) {
        clock.start();
        const ZelkoFrameReport report = ZelkoFrameReport::decode(frame);
        us.push_back(clock.nsecsElapsed() / 1e3);
    }
    std::sort(us.begin(), us.end());
    c.medianUs = us.empty() ? 0 : us[us.size() / 2];
    return c;
}

} // namespace

int main(int argc, char **argv)
{
    const bool smoke = bench::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);

    // The 1 MiB frame of the decoding benchmark, its stream cut after 16 KiB:
    // the header still declares the whole content and the whole stream.
    const auto pngs = BenchFrames::pngResources(smoke ? 3 : 100, smoke ? 300 : 10280);
    FrameWriter::Frame cut;
    cut.serviceType = 1;
    cut.compressFlag = FrameWriter::Zlib;
    cut.hasResources = true;
    cut.resources = pngs;
    cut.json = BenchFrames::resultJson(pngs, 8192);
    const QByteArray whole = FrameWriter::encode(cut);
    const int kept = smoke ? 256 : 16 * 1024;
    cut.compressedLen = quint32(whole.size() - 18);
    cut.keepCompressed = kept;
    const QByteArray truncated = FrameWriter::encode(cut);

    // Everything made once (the decoder's paths, the heap) before the baseline.
    ZelkoFrameReport::decode(BenchFrames::build(pngs.mid(0, 2), "{}", true).frame);

    const struct
    {
        const char *name;
        QByteArray frame;
    } cases[] = {
        {"30-byte zlib frame declaring 4 GiB", hugeDeclaredZlib()},
        {"30-byte plain frame declaring 4 GiB", hugeDeclaredPlain()},
        {"Compressed frame cut after 16 KiB of a 1 MiB stream", truncated},
    };
    for (const auto &c : cases) {
        const Cost cost = measure(c.frame, smoke ? 3 : 200);
        const bool pass = cost.peakOverBaselineMiB <= 1.0 && cost.medianUs <= 1000;
        bench::row(std::string(c.name) + ": peak RSS and time (vs baseline RSS)",
                   bench::fmt("%.1f us, ", cost.medianUs)
                       + bench::fmt("peak %.1f MiB", cost.baselineMiB + cost.peakOverBaselineMiB),
                   bench::fmt("%.1f MiB", cost.baselineMiB),
                   bench::fmt("%+.2f MiB", cost.peakOverBaselineMiB), "<= +1 MiB, <= 1 ms",
                   smoke ? "smoke" : bench::verdict(pass));
    }
    return 0;
}
