#ifndef ADMISSION_H
#define ADMISSION_H

#include "webserver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// What admission knows of a session: whether it owes an answer (then no cap takes it), and
// how its request is arriving, so that a connection keeps its place by progress rather than
// by presence. Written on the session's thread, read by whoever admits another connection.
class SessionBase : public std::enable_shared_from_this<SessionBase>
{
public:
    using Clock = std::chrono::steady_clock;
    // What a session holds its place by, from weakest to strongest.
    enum class Seat {
        Idle,        // kept alive between requests, nothing of the next one read
        Unstarted,   // connected (or in its TLS handshake), not a byte of a request yet
        Stalled,     // a request under way that has stopped keeping the minimum rate
        Progressing, // a request under way at the minimum rate or better
        Owed         // a request read whole (or refused) whose answer is not yet written
    };

    SessionBase();
    virtual ~SessionBase() = default;
    virtual void start() = 0;
    // Closes the session on its own thread, whatever it does.
    virtual void close() = 0;

    // Taken by a cap (any thread): a session that owes an answer never goes.
    bool evict();
    Seat seat(Clock::time_point now, const WebServer::Limits &limits) const;
    // Of the request under way, else of the connect: who made progress longest ago goes first.
    int64_t lastProgress() const { return m_lastByte.load(std::memory_order_relaxed); }

protected:
    // The request read so far is now owed an answer: false when a cap took the session first.
    bool owe();
    // Every answer owed is written.
    void paid();
    void setKeptAlive(bool kept) { m_keptAlive.store(kept, std::memory_order_relaxed); }
    // The first byte of a request (blank lines before it included), then each read of it,
    // until it is read whole or refused.
    void requestBegins();
    void progress(size_t bytes);
    void requestEnds() { m_requestStart.store(0, std::memory_order_relaxed); }

private:
    enum State {
        Open,
        Owing,
        Evicted
    };
    std::atomic<int> m_state{Open};
    std::atomic<bool> m_keptAlive{false};
    std::atomic<int64_t> m_requestStart{0}; // steady clock, ns; 0: no request under way
    std::atomic<int64_t> m_lastByte;        // steady clock, ns
    std::atomic<uint64_t> m_requestBytes{0};
};

// The caps on open connections, each endpoint with a budget of its own. Past a cap, a
// connection that holds its place weakest makes room (idle ones first, then those with no
// request or a stalled one, longest without progress first); only when every one is making
// progress or owed an answer is the newcomer refused.
class Admission
{
public:
    struct Entry
    {
        std::weak_ptr<SessionBase> session;
        std::string address;
        uint64_t order = 0; // of admission
    };
    struct Budget
    {
        std::unordered_map<SessionBase *, Entry> sessions;
        std::unordered_map<std::string, size_t> perAddress;
    };

    explicit Admission(const WebServer::Limits &limits);

    // A session from make() for a connection from address, or null when no place could be made.
    std::shared_ptr<SessionBase> admit(Budget &budget, const std::string &address,
                                       const std::function<std::shared_ptr<SessionBase>()> &make);
    // A session leaves its budget once: when it goes, or when a cap took it.
    void leave(Budget &budget, SessionBase *session);

    std::vector<std::shared_ptr<SessionBase>> sessions(const std::vector<Budget *> &budgets) const;
    // Until no session is open, for up to ms; whether none is.
    bool waitUntilEmpty(int ms);
    size_t open() const;

    // Called (under no lock of ours) once a burst of connections has passed, so that the
    // allocator's free lists may go back to the system.
    std::function<void()> onBurstPassed;

private:
    bool makeRoom(Budget &budget, const std::string &address,
                  std::vector<std::shared_ptr<SessionBase>> &seen);
    void forget(Budget &budget, SessionBase *session, bool &burstPassed);

    const WebServer::Limits &m_limits;
    mutable std::mutex m_mutex;
    std::condition_variable m_empty;
    size_t m_open = 0;
    size_t m_admittedSinceTrim = 0;
    uint64_t m_admissions = 0;
};

#endif
