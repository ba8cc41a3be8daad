// The reference service's search: time per answer (SearchService::answer, JSON
// and thumbnails included) over a mix of queries, with the index beside the linear
// scan it must agree with; the index build; the resident set of the service
// serving the whole archive; the queries made to cost it the most, alone and from 32
// connections beside a client's plain search.

#include "benchsupport.h"

#include "indexsource.h"
#include "querysigning.h"
#include "referenceservice.h"
#include "searchservice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// What people type: names, pieces of names, topics of two words, one or two
// letters (which the trigram index cannot serve), broad ones ("lib": half the
// archive), non-ASCII, and misses.
const char *const Mix[] = {
    "python",
    "lib",
    "qt",
    "gtk",
    "perl",
    "ssl",
    "zlib",
    "dev",
    "doc",
    "text editor",
    "vim",
    "emacs",
    "font",
    "web server",
    "lib ssl",
    "x",
    "go",
    "r",
    "gnu c",
    "python3-numpy",
    "sqlite",
    "xyzzy",
    "qwertyuiop",
    "command line tool",
    "gnu c library",
    "über",
    "music player",
    "pdf",
    "image viewer",
    "kernel",
    "network",
    "compression",
    "json",
    "rust",
    "openssl",
    "libc",
    "firmware",
    "game",
    "qt5 widgets",
    "nonexistentpackage",
};

// Queries made to cost the most: one letter repeated, as many of the commonest letters
// and letter pairs as fit, two broad short words, long words of common trigrams.
const QStringList Hostile{
    QString("a ").repeated(128).trimmed(),
    "e a i o n r t s l c u d p m h g b f y w k v x z j q",
    "in er an re on at en es th he ti or te",
    "in er",
    "s e",
    "e",
    "an",
    "lib the ing ion and ent for con",
    QString("libraryinformationdevelopmentdocumentation").repeated(7).left(256),
    QString("lib").repeated(85),
};

QByteArray searchBody(const QString &q)
{
    return QuerySigning::searchQuery(q, 0, 10);
}

struct Percentiles
{
    double p50 = 0, p99 = 0;
};

// Milliseconds per answer over rounds of the whole mix, after one round unmeasured.
// The services are made with no answer kept: each round computes every answer anew.
Percentiles timeAnswers(const SearchService &service, int rounds)
{
    std::vector<QByteArray> bodies;
    for (const char *q : Mix)
        bodies.push_back(searchBody(QString::fromUtf8(q)));
    for (const QByteArray &b : bodies)
        service.answer(b);
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        for (const QByteArray &b : bodies) {
            const auto start = std::chrono::steady_clock::now();
            const QByteArray frame = service.answer(b);
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            if (frame.isEmpty())
                std::fprintf(stderr, "empty answer\n");
        }
    }
    // Per query on stderr, for the logs: which queries make the tail.
    for (size_t k = 0; k < bodies.size(); ++k) {
        std::vector<double> own;
        for (int r = 0; r < rounds; ++r)
            own.push_back(ms[size_t(r) * bodies.size() + k]);
        const QString q = QString::fromUtf8(Mix[k]);
        const auto start = std::chrono::steady_clock::now();
        const int hits = service.index().search(q).size();
        const double searchMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "%-20s %7d hits  answer %8.3f ms  search alone %8.3f ms\n", Mix[k], hits,
                     bench::median(own), searchMs);
    }
    return {bench::percentile(ms, 0.5), bench::percentile(ms, 0.99)};
}

// The slowest of Hostile (median milliseconds of its answers, pages 0 to 3) and which.
std::pair<double, QString> worstQuery(const SearchService &service, int rounds)
{
    std::pair<double, QString> worst{0, QString()};
    for (const QString &q : Hostile) {
        std::vector<double> ms;
        for (int r = 0; r < rounds; ++r) {
            const QByteArray body = QuerySigning::searchQuery(q, r % 4, 10);
            const auto start = std::chrono::steady_clock::now();
            service.answer(body);
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        const double median = bench::median(ms);
        std::fprintf(stderr, "hostile %-40s answer %8.3f ms\n", qPrintable(q.left(40)), median);
        if (median > worst.first)
            worst = {median, q};
    }
    return worst;
}

// One kept-alive HTTP connection to the service on loopback.
class Client
{
public:
    explicit Client(int port)
        : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(uint16_t(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        const timeval wait{10, 0};
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // A search and its whole answer: false when it did not come, or not as a 200.
    bool post(const QByteArray &body)
    {
        const QByteArray request = "POST /search HTTP/1.1\r\nHost: bench\r\nContent-Length: "
                                   + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        if (m_fd < 0
            || ::send(m_fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size())
            return false;
        QByteArray in;
        int headEnd;
        while ((headEnd = in.indexOf("\r\n\r\n")) < 0) {
            if (!more(&in))
                return false;
        }
        const QByteArray head = in.left(headEnd).toLower();
        const int length = head.indexOf("content-length:");
        if (!head.startsWith("http/1.1 200") || length < 0)
            return false;
        const int size = head.mid(length + 15, head.indexOf('\r', length) - length - 15).trimmed().toInt();
        while (in.size() < headEnd + 4 + size) {
            if (!more(&in))
                return false;
        }
        return true;
    }

private:
    bool more(QByteArray *in)
    {
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        in->append(buffer, int(n));
        return true;
    }
    int m_fd;
};

// Milliseconds per plain search from one connection, its pages from first on, so that no
// answer is one kept.
std::vector<double> plainSearches(int port, int first, int count)
{
    Client client(port);
    std::vector<double> ms;
    for (int i = first; i < first + count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!client.post(QuerySigning::searchQuery(QStringLiteral("python"), i, 10)))
            return {};
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return ms;
}

std::string msText(double ms)
{
    return bench::fmt(ms < 10 ? "%.3f ms" : "%.1f ms", ms);
}

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

struct Memory
{
    long rssKiB = -1, hwmKiB = -1;
};

// The real service, read once it listens, then stopped.
Memory serviceMemory(const QStringList &arguments)
{
    ReferenceService service;
    Memory m;
    if (service.start(0, 0, QString(), arguments)) {
        m.rssKiB = bench::statusKiB("VmRSS", std::to_string(service.pid()));
        m.hwmKiB = bench::statusKiB("VmHWM", std::to_string(service.pid()));
    }
    return m;
}

std::string mib(long kib)
{
    return kib < 0 ? std::string("-") : bench::fmt("%.1f MiB", double(kib) / 1024.0);
}

} // namespace

int main(int argc, char **argv)
{
    const bool smoke = bench::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);
    const char *info = smoke ? "smoke" : "info";
    auto verdict = [smoke](bool pass) { return smoke ? "smoke" : bench::verdict(pass); };
    QTemporaryDir dir;
    bool failed = false;

    // The installed packages: parsed, indexed in a file as a service with --index does.
    QString error;
    QElapsedTimer clock;
    clock.start();
    const IndexSource installedSource{IndexSource::Installed, QString()};
    const PackageIndex installed = installedSource.read(&error);
    const double installedParseMs = msSince(clock);
    clock.restart();
    const QString installedFile = dir.filePath("installed.index");
    failed |= !installed.writeIndex(installedFile, installedSource.describe(), &error);
    const double installedBuildMs = msSince(clock);
    QString source;
    const PackageIndex installedIndexed = PackageIndex::openIndex(installedFile, &source, &error);
    if (!installedIndexed.isIndexed()) {
        std::fprintf(stderr, "no index of the installed packages: %s\n", qPrintable(error));
        return 1;
    }
    {
        const SearchService indexed(installedIndexed, 0), scanned(installed, 0);
        const int rounds = smoke ? 1 : 40;
        const Percentiles ours = timeAnswers(indexed, rounds), ref = timeAnswers(scanned, rounds);
        const std::string n = std::to_string(installed.size());
        bench::row("Search answer p50, " + n + " installed packages (vs linear scan)", msText(ours.p50),
                   msText(ref.p50), bench::fmt("%.2fx", ours.p50 / ref.p50), "(reported)", info);
        bench::row("Search answer p99, " + n + " installed packages (vs linear scan)", msText(ours.p99),
                   msText(ref.p99), bench::fmt("%.2fx", ours.p99 / ref.p99), "<= 1 ms",
                   verdict(ours.p99 <= 1.0));
        bench::row("Index build, " + n + " installed packages (vs parsing the dpkg database)",
                   msText(installedBuildMs), msText(installedParseMs),
                   bench::fmt("%.2fx", installedBuildMs / installedParseMs), "(reported)", info);
    }

    // The whole archive, when apt has its lists; a smoke run leaves it out (seconds to build).
    const IndexSource archiveSource{IndexSource::Archive, QString()};
    if (smoke || !archiveSource.lastModified().isValid()) {
        std::fprintf(stderr, "archive rows left out: %s\n", smoke ? "smoke run" : "no apt lists");
        return failed ? 1 : 0;
    }
    clock.restart();
    const PackageIndex archive = archiveSource.read(&error);
    const double archiveParseMs = msSince(clock);
    if (archive.size() == 0) {
        std::fprintf(stderr, "apt gave no packages: %s\n", qPrintable(error));
        return 1;
    }
    const QString archiveFile = dir.filePath("archive.index");
    clock.restart();
    failed |= !archive.writeIndex(archiveFile, archiveSource.describe(), &error);
    const double archiveBuildMs = msSince(clock);
    const PackageIndex archiveIndexed = PackageIndex::openIndex(archiveFile, &source, &error);
    if (!archiveIndexed.isIndexed()) {
        std::fprintf(stderr, "no index of the archive: %s\n", qPrintable(error));
        return 1;
    }
    {
        const SearchService indexed(archiveIndexed, 0), scanned(archive, 0);
        const Percentiles ours = timeAnswers(indexed, 20), ref = timeAnswers(scanned, 3);
        const std::string n = std::to_string(archive.size());
        bench::row("Search answer p50, archive of " + n + " packages (vs linear scan)", msText(ours.p50),
                   msText(ref.p50), bench::fmt("%.2fx", ours.p50 / ref.p50), "<= 2 ms",
                   verdict(ours.p50 <= 2.0));
        bench::row("Search answer p99, archive of " + n + " packages (vs linear scan)", msText(ours.p99),
                   msText(ref.p99), bench::fmt("%.2fx", ours.p99 / ref.p99), "<= 20 ms",
                   verdict(ours.p99 <= 20.0));
        bench::row("Index build, archive of " + n + " packages (vs parsing apt's lists)",
                   bench::fmt("%.0f ms", archiveBuildMs), bench::fmt("%.0f ms", archiveParseMs),
                   bench::fmt("%.2fx", archiveBuildMs / archiveParseMs), "(reported)", info);
    }

    QString worst;
    {
        const SearchService indexed(archiveIndexed, 0);
        const auto cost = worstQuery(indexed, 20);
        worst = cost.second;
        std::vector<double> plain;
        for (int r = 0; r < 20; ++r) {
            const auto start = std::chrono::steady_clock::now();
            indexed.answer(QuerySigning::searchQuery(QStringLiteral("python"), r, 10));
            plain.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        const double plainMs = bench::median(plain);
        bench::row("Worst search answer, archive: \"" + worst.left(24).toStdString() + "\" (vs \"python\")",
                   msText(cost.first), msText(plainMs), bench::fmt("%.2fx", cost.first / plainMs), "<= 5 ms",
                   verdict(cost.first <= 5.0));
    }
    // The real service, its answers kept as by default: each connection asks for other pages.
    {
        ReferenceService service;
        if (!service.start(0, 0, QString(), {"--archive", "--index", archiveFile})) {
            std::fprintf(stderr, "the archive service did not start: %s\n", qPrintable(service.log()));
            return 1;
        }
        const std::vector<double> alone = plainSearches(service.port(), 0, 200);
        std::atomic<bool> stop{false};
        std::atomic<int> answered{0};
        std::vector<std::thread> hostile;
        for (int c = 0; c < 32; ++c) {
            hostile.emplace_back([&, c] {
                Client client(service.port());
                for (int page = c * 1000; !stop && client.post(QuerySigning::searchQuery(worst, page, 10));
                     ++page)
                    ++answered;
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const std::vector<double> loaded = plainSearches(service.port(), 200, 200);
        stop = true;
        for (std::thread &t : hostile)
            t.join();
        failed |= alone.empty() || loaded.empty();
        const double p50 = bench::percentile(loaded, 0.5), aloneP50 = bench::percentile(alone, 0.5);
        std::fprintf(stderr,
                     "beside 32 hostile connections: plain p50 %.3f ms, p99 %.3f ms; %d hostile answers\n",
                     p50, bench::percentile(loaded, 0.99), answered.load());
        bench::row("Plain search p50 beside 32 connections of the worst query, archive (vs alone)",
                   msText(p50), msText(aloneP50), bench::fmt("%.2fx", p50 / aloneP50), "<= 10 ms",
                   verdict(!loaded.empty() && p50 <= 10.0));
    }

    // The archive's index file as written above, newer than apt's lists, so the service reads it.
    const Memory archiveService = serviceMemory({"--archive", "--index", archiveFile});
    const Memory installedService = serviceMemory({});
    failed |= archiveService.rssKiB < 0 || installedService.rssKiB < 0;
    bench::row("zelko-service resident set, archive index (vs installed packages)",
               mib(archiveService.rssKiB), mib(installedService.rssKiB),
               bench::fmt("%+.1f MiB", double(archiveService.rssKiB - installedService.rssKiB) / 1024.0),
               "(reported)", info);
    bench::row("zelko-service peak resident set, archive index (vs installed packages)",
               mib(archiveService.hwmKiB), mib(installedService.hwmKiB),
               bench::fmt("%+.1f MiB", double(archiveService.hwmKiB - installedService.hwmKiB) / 1024.0),
               "(reported)", info);
    return failed ? 1 : 0;
}
