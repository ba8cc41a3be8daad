// The digest calculators beside OpenSSL's EVP digests and QCryptographicHash.
// OpenSSL without its SHA extensions is measured in a child process, since it
// reads OPENSSL_ia32cap once, when it starts; child and parent take turns, one
// pass of every benchmark each, so that a change in the machine's load falls on
// both. Google Benchmark finds the iteration counts in the first pass only: the
// later passes run each benchmark for the same time without searching again.

#include "benchsupport.h"
#include "digestloop.h"

#include "Md5Calc.h"
#include "Sha1Calc.h"
#include "Sha256Calc.h"
#include "ShaExtCalc.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool g_smoke = false;

// CPU time of one benchmark in one pass.
constexpr double PassSeconds = 0.015;
constexpr int Passes = 5;

enum Algo {
    Sha256,
    Sha1,
    Md5
};
const char *const AlgoNames[] = {"SHA-256", "SHA-1", "MD5"};

// Qt 6 takes the bytes as a view; its pointer-and-length form is deprecated.
void addBytes(QCryptographicHash &hash, const char *data, size_t size)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    hash.addData(QByteArrayView(data, qsizetype(size)));
#else
    hash.addData(data, int(size));
#endif
}

const EVP_MD *evp(Algo algo)
{
    return algo == Sha256 ? EVP_sha256() : algo == Sha1 ? EVP_sha1() : EVP_md5();
}

// pieces: 0 one update, 1 one update per piece and the digest after each (what
// the calculators give), 2 one update per piece and the digest at the end.
void openssl(benchmark::State &state, Algo algo, size_t size, int pieces)
{
    std::vector<unsigned char> m = bench::digestMessage(size);
    const EVP_MD *md = evp(algo);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new(), *copy = EVP_MD_CTX_new();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int outLen = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        if (pieces == 0) {
            EVP_DigestUpdate(ctx, m.data(), size);
        } else {
            for (size_t at = 0; at < size; at += bench::DigestPiece) {
                EVP_DigestUpdate(ctx, m.data() + at, std::min(bench::DigestPiece, size - at));
                if (pieces == 1) {
                    EVP_MD_CTX_copy_ex(copy, ctx);
                    EVP_DigestFinal_ex(copy, out, &outLen);
                }
            }
        }
        EVP_DigestFinal_ex(ctx, out, &outLen);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(copy);
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(state.iterations() * qint64(size));
}

void qtHash(benchmark::State &state, Algo algo, size_t size, bool pieces)
{
    std::vector<unsigned char> m = bench::digestMessage(size);
    const auto method = algo == Sha256 ? QCryptographicHash::Sha256
                        : algo == Sha1 ? QCryptographicHash::Sha1
                                       : QCryptographicHash::Md5;
    QCryptographicHash hash(method);
    const char *p = reinterpret_cast<const char *>(m.data());
    for (auto _ : state) {
        hash.reset();
        if (!pieces) {
            addBytes(hash, p, size);
        } else {
            // QCryptographicHash::result() finalises a copy, as the calculators do.
            for (size_t at = 0; at < size; at += bench::DigestPiece) {
                addBytes(hash, p + at, std::min(bench::DigestPiece, size - at));
                benchmark::DoNotOptimize(hash.result());
            }
        }
        benchmark::DoNotOptimize(hash.result());
    }
    state.SetBytesProcessed(state.iterations() * qint64(size));
}

std::vector<size_t> sizes()
{
    return g_smoke ? std::vector<size_t>{64} : std::vector<size_t>{64, 1024, 16384};
}

std::string key(const char *who, Algo algo, size_t size, int mode)
{
    return std::string(who) + "/" + AlgoNames[algo] + "/" + std::to_string(size) + "/" + std::to_string(mode);
}

using Counts = std::map<std::string, benchmark::IterationCount>;

// Fixes a benchmark's iteration count where counts has one for it.
void fix(benchmark::internal::Benchmark *b, const std::string &name, const Counts &counts)
{
    auto it = counts.find(name);
    if (it != counts.end())
        b->Iterations(it->second);
}

// The table takes OpenSSL's digest at the end only without its SHA extensions
// ("streamed"), so the parent leaves that mode to the child.
void registerAll(bool opensslOnly, const Counts &counts = {})
{
    for (size_t size : sizes()) {
        for (int mode = 0; mode < 3; ++mode) {
            for (Algo algo : {Sha256, Sha1, Md5}) {
                if (opensslOnly || mode < 2) {
                    const std::string name = key("openssl", algo, size, mode);
                    fix(benchmark::RegisterBenchmark(name.c_str(), openssl, algo, size, mode), name, counts);
                }
                if (opensslOnly || mode == 2)
                    continue;
                const bool pieces = mode == 1;
                const std::string qt = key("qt", algo, size, mode);
                fix(benchmark::RegisterBenchmark(qt.c_str(), qtHash, algo, size, pieces), qt, counts);
                for (bool portable : {false, true}) {
                    if (portable && (algo == Md5 || !ShaExtCalc_available()))
                        continue;
                    const std::string name = key(portable ? "portable" : "ours", algo, size, mode);
                    benchmark::internal::Benchmark *b;
                    if (algo == Sha256)
                        b = benchmark::RegisterBenchmark(
                            name.c_str(),
                            bench::calculatorLoop<Sha256Calc, Sha256Calc_init, Sha256Calc_reset,
                                                  Sha256Calc_calculate>,
                            size, pieces, portable);
                    else if (algo == Sha1)
                        b = benchmark::RegisterBenchmark(
                            name.c_str(),
                            bench::calculatorLoop<Sha1Calc, Sha1Calc_init, Sha1Calc_reset,
                                                  Sha1Calc_calculate>,
                            size, pieces, portable);
                    else
                        b = benchmark::RegisterBenchmark(
                            name.c_str(),
                            bench::calculatorLoop<Md5Calc, Md5Calc_init, Md5Calc_reset, Md5Calc_calculate>,
                            size, pieces, portable);
                    fix(b, name, counts);
                }
            }
        }
    }
}

// Besides the collector's times, each benchmark's iterations and CPU time in
// its latest run, from which the later passes take their counts.
class PassCollector : public bench::Collector
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        bench::Collector::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0)
                m_last[run.run_name.function_name] = {run.iterations, run.cpu_accumulated_time};
        }
    }

    // The count that takes about `seconds` of CPU time, for every benchmark run so far.
    Counts counts(double seconds) const
    {
        Counts out;
        for (const auto &last : m_last) {
            const double perIteration = last.second.seconds / double(last.second.iterations);
            out[last.first] = std::max<benchmark::IterationCount>(
                1, benchmark::IterationCount(seconds / std::max(perIteration, 1e-12) + 0.5));
        }
        return out;
    }

    // Nanoseconds per iteration in the latest run; 0 when it did not run.
    double lastNs(const std::string &name) const
    {
        auto it = m_last.find(name);
        return it == m_last.end() ? 0 : it->second.seconds * 1e9 / double(it->second.iterations);
    }

private:
    struct Last
    {
        benchmark::IterationCount iterations;
        double seconds;
    };
    std::map<std::string, Last> m_last;
};

// One pass of every registered benchmark: the first finds the iteration counts,
// the later ones reuse them.
void runPass(PassCollector &collector, bool opensslOnly, int pass, Counts &counts)
{
    if (pass == 1 && !g_smoke)
        counts = collector.counts(PassSeconds);
    if (pass > 0) {
        benchmark::ClearRegisteredBenchmarks();
        registerAll(opensslOnly, counts);
    }
    benchmark::RunSpecifiedBenchmarks(&collector);
}

// This program again with OpenSSL's SHA extensions masked, running a pass
// whenever it reads a line and answering with its times by name.
class MaskedChild
{
public:
    explicit MaskedChild(const char *self)
    {
        int down[2], up[2];
        if (self[0] == '\0' || pipe(down) != 0)
            return;
        if (pipe(up) != 0) {
            close(down[0]);
            close(down[1]);
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(down[0], STDIN_FILENO);
            dup2(up[1], STDOUT_FILENO);
            for (int fd : {down[0], down[1], up[0], up[1]})
                close(fd);
            setenv("OPENSSL_ia32cap", ":~0x20000000", 1);
            execl(self, self, "--openssl-child", g_smoke ? "--smoke" : nullptr, nullptr);
            _exit(127);
        }
        close(down[0]);
        close(up[1]);
        if (m_pid < 0) {
            close(down[1]);
            close(up[0]);
            return;
        }
        m_to = fdopen(down[1], "w");
        m_from = fdopen(up[0], "r");
    }
    ~MaskedChild()
    {
        if (m_to)
            std::fclose(m_to);
        if (m_from)
            std::fclose(m_from);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }

    // One pass of the child; its per-iteration times by name, none if it is gone.
    std::map<std::string, double> pass()
    {
        std::map<std::string, double> times;
        if (!m_to || !m_from || std::fputs("pass\n", m_to) < 0 || std::fflush(m_to) != 0)
            return times;
        char line[512];
        while (std::fgets(line, sizeof line, m_from) && std::strcmp(line, "END\n") != 0) {
            char name[256];
            double ns = 0;
            if (std::sscanf(line, "NS\t%255s\t%lf", name, &ns) == 2)
                times[name] = ns;
        }
        return times;
    }

private:
    pid_t m_pid = -1;
    FILE *m_to = nullptr;
    FILE *m_from = nullptr;
};

} // namespace

int main(int argc, char **argv)
{
    g_smoke = bench::takeSmokeFlag(argc, argv);
    bool child = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--openssl-child") == 0) {
            child = true;
            for (int j = i; j < argc; ++j)
                argv[j] = argv[j + 1];
            --argc;
            break;
        }
    }
    registerAll(child);

    std::vector<char *> args = bench::benchmarkArgs(argc, argv, g_smoke, 1, PassSeconds);
    int n = int(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    PassCollector collector;
    Counts counts;

    if (child) {
        char line[64];
        for (int pass = 0; std::fgets(line, sizeof line, stdin); ++pass) {
            runPass(collector, true, pass, counts);
            for (size_t size : sizes())
                for (int mode = 0; mode < 3; ++mode)
                    for (Algo algo : {Sha256, Sha1, Md5})
                        std::printf("NS\t%s\t%.3f\n", key("openssl", algo, size, mode).c_str(),
                                    collector.lastNs(key("openssl", algo, size, mode)));
            std::printf("END\n");
            std::fflush(stdout);
        }
        benchmark::Shutdown();
        return 0;
    }

    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        self[0] = '\0';
    std::map<std::string, std::vector<double>> maskedRuns;
    {
        // A child that cannot start or dies leaves the OpenSSL-without-extensions columns at 0.
        signal(SIGPIPE, SIG_IGN);
        MaskedChild masked(self);
        const int passes = g_smoke ? 1 : Passes;
        for (int pass = 0; pass < passes; ++pass) {
            for (const auto &time : masked.pass())
                maskedRuns[time.first].push_back(time.second);
            runPass(collector, false, pass, counts);
        }
    }
    std::map<std::string, double> masked;
    for (const auto &runs : maskedRuns)
        masked[runs.first] = bench::median(runs.second);

    const char *const modeNames[] = {"one call", "64 B pieces"};
    for (Algo algo : {Sha256, Sha1, Md5}) {
        for (int mode = 0; mode < 2; ++mode) {
            for (size_t size : sizes()) {
                auto rate = [&](double ns) { return ns > 0 ? double(size) / ns * 1e3 : 0; }; // MB/s
                const double o = rate(collector.nsPerIteration(key("ours", algo, size, mode)));
                const double noSha = rate(masked[key("openssl", algo, size, mode)]);
                const double full = rate(collector.nsPerIteration(key("openssl", algo, size, mode)));
                const double qt = rate(collector.nsPerIteration(key("qt", algo, size, mode)));
                const double streamed = rate(masked[key("openssl", algo, size, 2)]);
                const double target = algo == Md5 ? 0.9 : 0.8;
                const double ratio = noSha > 0 ? o / noSha : 0;
                auto r = [](double a, double b) { return b > 0 ? a / b : 0; };
                std::string measure =
                    std::string(AlgoNames[algo]) + " "
                    + (size >= 1024 ? std::to_string(size / 1024) + " KiB" : std::to_string(size) + " B")
                    + ", " + modeNames[mode];
                std::string reference = bench::fmt("%.0f MB/s OpenSSL no-SHA-ext", noSha);
                std::string ratios = bench::fmt("%.2fx", ratio)
                                     + bench::fmt(" (full OpenSSL %.2fx", r(o, full))
                                     + bench::fmt(", Qt %.2fx", r(o, qt));
                if (mode == 1)
                    ratios += bench::fmt(", streamed %.2fx", r(o, streamed));
                const double portable = rate(collector.nsPerIteration(key("portable", algo, size, mode)));
                if (portable > 0)
                    ratios += bench::fmt(", portable path %.2fx", r(portable, noSha));
                ratios += ")";
                bench::row(measure, bench::fmt("%.0f MB/s", o), reference, ratios,
                           bench::fmt(">= %.1fx", target),
                           g_smoke ? "smoke" : bench::verdict(ratio >= target));
            }
        }
        // One call against OpenSSL as it runs here, with the SHA instructions on both
        // sides where the CPU has them: its own row, so that the ratio is judged on its median.
        for (size_t size : sizes()) {
            if (algo == Md5 || size < 1024)
                continue;
            const double ns = collector.nsPerIteration(key("ours", algo, size, 0));
            const double fullNs = collector.nsPerIteration(key("openssl", algo, size, 0));
            const double target = size == 1024 ? 1.1 : 0.97;
            const double ratio = ns > 0 ? fullNs / ns : 0;
            bench::row(std::string(AlgoNames[algo]) + " " + std::to_string(size / 1024)
                           + " KiB, one call, vs full OpenSSL",
                       bench::fmt("%.0f MB/s", ns > 0 ? double(size) / ns * 1e3 : 0),
                       bench::fmt("%.0f MB/s full OpenSSL", fullNs > 0 ? double(size) / fullNs * 1e3 : 0),
                       bench::fmt("%.2fx", ratio), size == 1024 ? ">= 1.1x" : ">= 0.97x",
                       g_smoke ? "smoke" : bench::verdict(ratio >= target));
        }
    }
    benchmark::Shutdown();
    return 0;
}
