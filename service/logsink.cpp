#include "logsink.h"

#include <systemd/sd-journal.h>
#include <syslog.h>

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace {

// A batch past this leaves the writer's buffers and the heap large: they are given back once
// the queue is empty again.
constexpr size_t LargeBatch = 64 * 1024;

// Escaped, a field holds backslashes only as the start of an escape (\xNN), which the cut
// never splits.
size_t cutAt(const std::string &field)
{
    if (field.size() <= LogSink::MaxField)
        return field.size();
    const size_t escape = field.rfind('\\', LogSink::MaxField - 1);
    return escape != std::string::npos && escape + 4 > LogSink::MaxField ? escape : LogSink::MaxField;
}

std::string cut(const std::string &field)
{
    const size_t end = cutAt(field);
    return end == field.size() ? field : field.substr(0, end) + LogSink::CutMark;
}

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

LogSink::LogSink(Target target, size_t capacityBytes, int fd)
    : m_target(target)
    , m_capacity(capacityBytes)
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

size_t LogSink::cost(const Line &line)
{
    return sizeof line + line.method.size() + line.path.size();
}

void LogSink::request(const std::string &method, const std::string &path, int status, size_t bytes,
                      int64_t us)
{
    Line line{cut(method), cut(path), status, bytes, us};
    const size_t lineCost = cost(line);
    bool first;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queuedBytes + lineCost > m_capacity) {
            ++m_dropped;
            return;
        }
        first = m_queue.empty();
        m_queuedBytes += lineCost;
        m_queue.push_back(std::move(line));
    }
    // The writer takes all that is queued at once: only a line that finds none waiting wakes it.
    if (first)
        m_wake.notify_one();
}

void LogSink::run()
{
    std::vector<Line> lines;
    std::string text;
    bool large = false;
    for (;;) {
        uint64_t dropped = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (large && m_queue.empty()) {
                // A flood that has passed, or a reader that came back: the process shrinks again.
                std::deque<Line>().swap(m_queue);
                lock.unlock();
                std::vector<Line>().swap(lines);
                std::string().swap(text);
#ifdef __GLIBC__
                malloc_trim(0);
#endif
                large = false;
                lock.lock();
            }
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
            large = large || m_queuedBytes > LargeBatch;
            m_queuedBytes = 0;
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
