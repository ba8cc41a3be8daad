#ifndef LOGSINK_H
#define LOGSINK_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// The service's request log, written by a thread of its own: the I/O threads only queue a
// line, and a line that finds the queue full (its output has stopped taking them) is dropped
// and counted, so that a log nobody reads never stops the answers. The count is logged once
// writing goes on. The queue is bounded in bytes, a method or path cut at MaxField bytes, so
// that long paths cannot make it large; once it has been large and empties, its memory is
// given back.
class LogSink
{
public:
    enum Target {
        StandardError, // "METHOD PATH STATUS BYTES DURATIONus", a line each
        Journal        // systemd's journal, with the same as fields of the entry
    };

    // A method or path longer than this (escaped) is logged cut, ending in CutMark.
    static constexpr size_t MaxField = 256;
    static constexpr const char *CutMark = "[cut]";

    explicit LogSink(Target target, size_t capacityBytes = 1024 * 1024, int fd = 2);
    // Writes what is queued, then ends the thread.
    ~LogSink();
    LogSink(const LogSink &) = delete;
    LogSink &operator=(const LogSink &) = delete;

    void request(const std::string &method, const std::string &path, int status, size_t bytes, int64_t us);

    // The journal when standard error is systemd's stream to it, as JOURNAL_STREAM says.
    static Target detect(int fd = 2);

private:
    struct Line
    {
        std::string method, path;
        int status = 0;
        size_t bytes = 0;
        int64_t us = 0;
    };
    void run();
    static size_t cost(const Line &line);

    const Target m_target;
    const size_t m_capacity;
    const int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Line> m_queue;
    size_t m_queuedBytes = 0;
    uint64_t m_dropped = 0; // since the last line written
    bool m_stopping = false;
    std::thread m_thread;
};

#endif
