#include "logsink.h"

#include <systemd/sd-journal.h>
#include <syslog.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace {

void writeAll(int fd, const std::string &out)
{
    for (size_t done = 0; done < out.size();) {
        const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

} // namespace

LogSink::LogSink(Target target, size_t capacity, int fd)
    : m_target(target)
    , m_capacity(capacity)
    , m_fd(fd)
    , m_thread([this] { run(); })
{
}

LogSink::~LogSink()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

LogSink::Target LogSink::detect(int fd)
{
    const char *stream = std::getenv("JOURNAL_STREAM");
    struct stat st
    {};
    unsigned long long device = 0, inode = 0;
    return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && fstat(fd, &st) == 0
                   && st.st_dev == device && st.st_ino == inode
               ? Journal
               : StandardError;
}

void LogSink::request(const std::string &method, const std::string &path, int status, size_t bytes,
                      int64_t us)
{
    bool first;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= m_capacity) {
            ++m_dropped;
            return;
        }
        first = m_queue.empty();
        m_queue.push_back(Line{method, path, status, bytes, us});
    }
    // The writer takes all that is queued at once: only a line that finds none waiting wakes it.
    if (first)
        m_wake.notify_one();
}

void LogSink::run()
{
    std::vector<Line> lines;
    std::string text;
    for (;;) {
        uint64_t dropped = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            // A moment for more to come: under load one wake-up writes many lines.
            if (!m_stopping) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                lock.lock();
            }
            lines.assign(std::make_move_iterator(m_queue.begin()), std::make_move_iterator(m_queue.end()));
            m_queue.clear();
            std::swap(dropped, m_dropped);
        }
        const std::string lost =
            "zelko-service: " + std::to_string(dropped) + " log lines dropped: the log was not taken";
        if (m_target == Journal) {
            if (dropped > 0)
                sd_journal_send("MESSAGE=%s", lost.c_str(), "PRIORITY=%d", LOG_WARNING, nullptr);
            for (const Line &line : lines)
                sd_journal_send("MESSAGE=%s %s %d", line.method.c_str(), line.path.c_str(), line.status,
                                "PRIORITY=%d", LOG_INFO, "HTTP_METHOD=%s", line.method.c_str(),
                                "HTTP_PATH=%s", line.path.c_str(), "HTTP_STATUS=%d", line.status,
                                "HTTP_BYTES=%zu", line.bytes, "DURATION_US=%" PRId64, line.us, nullptr);
        } else {
            // One write for the lot, however many came meanwhile.
            text.clear();
            if (dropped > 0)
                text.append(lost).append(1, '\n');
            for (const Line &line : lines) {
                char numbers[64];
                std::snprintf(numbers, sizeof numbers, " %d %zu %" PRId64 "us\n", line.status, line.bytes,
                              line.us);
                text.append(line.method).append(1, ' ').append(line.path).append(numbers);
            }
            writeAll(m_fd, text);
        }
        lines.clear();
    }
}
