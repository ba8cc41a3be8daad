#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

// Shared by the benchmark programs: the table rows bench/run collects, a
// Google Benchmark reporter that keeps the timings for those rows, and the
// process memory readings.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace bench {

// One table row on stdout; bench/run picks out the lines that start with ROW.
inline void row(const std::string &measure, const std::string &ours, const std::string &reference,
                const std::string &ratio, const std::string &target, const std::string &verdict)
{
    std::printf("ROW\t%s\t%s\t%s\t%s\t%s\t%s\n", measure.c_str(), ours.c_str(), reference.c_str(),
                ratio.c_str(), target.c_str(), verdict.c_str());
    std::fflush(stdout);
}

inline std::string fmt(const char *format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

inline const char *verdict(bool pass)
{
    return pass ? "pass" : "miss";
}

// Takes "--smoke" out of argv: tiny inputs, one pass, nothing judged.
inline bool takeSmokeFlag(int &argc, char **argv)
{
    bool smoke = false;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            smoke = true;
        else
            argv[out++] = argv[i];
    }
    argc = out;
    argv[argc] = nullptr;
    return smoke;
}

// The middle value, or the mean of the two middle ones; 0 for none.
inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Prints Google Benchmark's usual report to stderr and keeps, per benchmark,
// the time of each repetition in nanoseconds per iteration. CPU time of the
// measuring thread, not wall time: the loops are single-threaded, and on a
// shared machine the other processes' share of the cores is not ours to count.
class Collector : public benchmark::ConsoleReporter
{
public:
    Collector()
    {
        SetOutputStream(&std::cerr);
        SetErrorStream(&std::cerr);
    }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            m_times[run.run_name.function_name + argsOf(run)].push_back(run.cpu_accumulated_time * 1e9
                                                                        / double(run.iterations));
        }
    }

    // Median over the repetitions, which run interleaved with those of the
    // other benchmarks; 0 when the benchmark did not run.
    double nsPerIteration(const std::string &name) const
    {
        auto it = m_times.find(name);
        if (it == m_times.end() || it->second.empty())
            return 0;
        return median(it->second);
    }

private:
    static std::string argsOf(const Run &run)
    {
        return run.run_name.args.empty() ? std::string() : "/" + run.run_name.args;
    }
    std::map<std::string, std::vector<double>> m_times;
};

// Google Benchmark's flags for a full run or a smoke run, ahead of the caller's own.
inline std::vector<char *> benchmarkArgs(int argc, char **argv, bool smoke, int repetitions,
                                         double minTime = 0.1)
{
    static std::vector<std::string> own;
    own.clear();
    own.push_back(argv[0]);
    if (smoke) {
        own.push_back("--benchmark_min_time=0");
    } else {
        own.push_back("--benchmark_min_time=" + std::to_string(minTime));
        own.push_back("--benchmark_repetitions=" + std::to_string(repetitions));
        own.push_back("--benchmark_enable_random_interleaving=true");
    }
    for (int i = 1; i < argc; ++i)
        own.push_back(argv[i]);
    std::vector<char *> args;
    for (std::string &s : own)
        args.push_back(&s[0]);
    args.push_back(nullptr);
    return args;
}

// Resident set readings of a process (this one by default), in KiB, from /proc/PID/status.
inline long statusKiB(const char *field, const std::string &pid = "self")
{
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::stol(line.substr(n + 1));
    }
    return -1;
}
inline long rssKiB()
{
    return statusKiB("VmRSS");
}
inline long peakRssKiB()
{
    return statusKiB("VmHWM");
}
// Lowers the recorded peak to the current resident set (Linux 4.0 and later).
inline bool resetPeakRss()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

// The p-quantile (0..1) of v, the nearest rank; 0 for none.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace bench

#endif
