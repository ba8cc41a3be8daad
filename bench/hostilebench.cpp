// Frames that lie: the memory and time the decoding pass spends on them, against
// the resident set before it. A process of its own, so that the readings are of
// this pass alone. Then clients that lie to the reference service: what a burst of
// bare connects leaves of its resident set once they are gone, and how soon a normal
// client is answered beside hundreds of idle, trickling or stalled ones from its own address.

#include "benchframes.h"
#include "benchsupport.h"
#include "rawhttp.h"
#include "referenceservice.h"
#include "zelkoframereport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>

#include <algorithm>
#include <memory>

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

long serviceRssKiB(const ReferenceService &service)
{
    return bench::statusKiB("VmRSS", std::to_string(service.pid()));
}

// The service's resident set once it has stopped changing (or after 5 s).
long settledRssKiB(const ReferenceService &service)
{
    long last = serviceRssKiB(service);
    for (int i = 0; i < 25; ++i) {
        QThread::msleep(200);
        const long now = serviceRssKiB(service);
        if (now == last)
            break;
        last = now;
    }
    return last;
}

// count TCP connects to port that send nothing, then all closed: the service's resident set
// at the peak and after, in KiB.
std::pair<long, long> burst(const ReferenceService &service, int port, int count)
{
    std::vector<int> fds;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
            if (fd >= 0)
                ::close(fd);
            break;
        }
        fds.push_back(fd);
    }
    const long peak = settledRssKiB(service);
    for (const int fd : fds)
        ::close(fd);
    return {peak, settledRssKiB(service)};
}

// One query on a fresh connection, over TLS when asked: milliseconds to its whole answer
// (10 s when none came or it was refused).
double freshQueryMs(const ReferenceService &service, bool tls)
{
    QElapsedTimer clock;
    clock.start();
    RawConnection c(quint16(tls ? service.httpsPort() : service.port()), QHostAddress(), tls);
    c.socket.write(
        tls ? QByteArray("POST /feedback HTTP/1.1\r\nHost: x\r\nContent-Length: 12\r\n\r\n{\"text\":\"a\"}")
            : postSearch(signedSearch(QStringLiteral("zlib"))));
    while (c.answers.isEmpty() && clock.elapsed() < 10000)
        c.socket.waitForReadyRead(10000 - int(clock.elapsed()));
    // A refusal is no answer.
    return c.status() != 200 ? 10000 : clock.nsecsElapsed() / 1e6;
}

void connectionRows(bool smoke)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    ReferenceService service;
    if (!service.start(0, 0, QStringLiteral(ZELKO_TEST_DATA "/dpkg-status"))) {
        std::fprintf(stderr, "hostilebench: the service did not start: %s\n", qPrintable(service.log()));
        std::exit(1);
    }
    for (const bool tls : {false, true})
        freshQueryMs(service, tls); // every path made once, before the baseline
    const int connects = smoke ? 200 : 4000;
    for (const bool tls : {true, false}) {
        const long before = settledRssKiB(service);
        const auto [peak, after] = burst(service, tls ? service.httpsPort() : service.port(), connects);
        const double ratio = double(after) / double(before);
        bench::row(bench::fmt("zelko-service resident set after %.0f bare connects closed, ", connects)
                       + (tls ? "HTTPS port" : "HTTP port") + " (vs before)",
                   bench::fmt("%.1f MiB", after / 1024.0) + bench::fmt(" (peak %.1f MiB)", peak / 1024.0),
                   bench::fmt("%.1f MiB", before / 1024.0), bench::fmt("%.2fx", ratio), "<= 1.20x",
                   smoke ? "smoke" : bench::verdict(ratio <= 1.2));
    }
    // Beside clients from the same address that hold the most it may: each kept alive after an
    // answer, sending a head a byte at a time, or a whole head and then no body. The service
    // makes room for the new one: at once for an idle one, for the others once they have
    // stalled (a second without a byte, the service's default).
    const int held = smoke ? 20 : 512;
    for (const char *kind : {"idle", "trickling", "stalled-body"}) {
        const bool idle = std::strcmp(kind, "idle") == 0;
        for (const bool tls : {false, true}) {
            std::vector<std::unique_ptr<RawConnection>> others;
            for (int i = 0; i < held; ++i) {
                others.emplace_back(new RawConnection(quint16(tls ? service.httpsPort() : service.port()),
                                                      QHostAddress(), tls));
                if (idle)
                    others.back()->socket.write(postSearch(signedSearch(QStringLiteral("qt"))));
                else if (std::strcmp(kind, "trickling") == 0)
                    others.back()->socket.write("POST /search HTTP/1.1\r\nX-Slow: ");
                else
                    others.back()->socket.write(
                        "POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{");
            }
            QElapsedTimer settle;
            settle.start();
            while (settle.elapsed() < 20000 && !std::all_of(others.begin(), others.end(), [&](const auto &c) {
                       return c->connected() && (!tls || c->socket.isEncrypted())
                              && c->socket.bytesToWrite() == 0 && (!idle || !c->answers.isEmpty());
                   }))
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            // The last of them has only just sent: they stall once the service's grace is past.
            QElapsedTimer stall;
            stall.start();
            while (!idle && stall.elapsed() < 1100)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            const double ms = freshQueryMs(service, tls);
            bench::row(bench::fmt("A fresh query beside %.0f ", held) + kind
                           + " connections from its address, " + (tls ? "HTTPS, handshake included" : "HTTP")
                           + " (vs the 100 ms a user notices)",
                       bench::fmt("%.1f ms", ms), "100 ms", bench::fmt("%.2fx", ms / 100), "<= 1.00x",
                       smoke ? "smoke" : bench::verdict(ms <= 100));
        }
    }
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
#ifdef ZELKO_SERVICE_BINARY
    connectionRows(smoke);
#endif
    return 0;
}
