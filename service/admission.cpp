#include "admission.h"

#include <algorithm>
#include <tuple>

namespace {

int64_t nanos(SessionBase::Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

int64_t nowNanos()
{
    return nanos(SessionBase::Clock::now());
}

} // namespace

SessionBase::SessionBase()
    : m_lastByte(nowNanos())
{
}

bool SessionBase::evict()
{
    int open = Open;
    if (!m_state.compare_exchange_strong(open, Evicted))
        return false;
    close();
    return true;
}

SessionBase::Seat SessionBase::seat(Clock::time_point now, const WebServer::Limits &limits) const
{
    if (m_state.load(std::memory_order_relaxed) != Open)
        return Seat::Owed;
    const int64_t start = m_requestStart.load(std::memory_order_relaxed);
    if (start == 0)
        return m_keptAlive.load(std::memory_order_relaxed) ? Seat::Idle : Seat::Unstarted;
    // As Apache's mod_reqtimeout has it: a grace from the request's first byte, and from
    // there a minimum rate; and nothing at all for as long as the grace is a stall.
    const int64_t at = nanos(now), grace = int64_t(limits.stallMs) * 1000000;
    if (at - m_lastByte.load(std::memory_order_relaxed) >= grace)
        return Seat::Stalled;
    const int64_t paced = at - start - grace;
    if (paced > 0
        && double(m_requestBytes.load(std::memory_order_relaxed))
               < double(limits.minRate) * double(paced) / 1e9)
        return Seat::Stalled;
    return Seat::Progressing;
}

bool SessionBase::owe()
{
    int open = Open;
    return m_state.compare_exchange_strong(open, Owing) || m_state.load() == Owing;
}

void SessionBase::paid()
{
    int owing = Owing;
    m_state.compare_exchange_strong(owing, Open);
}

void SessionBase::requestBegins()
{
    const int64_t now = nowNanos();
    m_requestBytes.store(0, std::memory_order_relaxed);
    m_lastByte.store(now, std::memory_order_relaxed);
    m_requestStart.store(now, std::memory_order_relaxed);
}

void SessionBase::progress(size_t bytes)
{
    if (bytes == 0 || m_requestStart.load(std::memory_order_relaxed) == 0)
        return;
    m_requestBytes.fetch_add(bytes, std::memory_order_relaxed);
    m_lastByte.store(nowNanos(), std::memory_order_relaxed);
}

Admission::Admission(const WebServer::Limits &limits)
    : m_limits(limits)
{
}

// Under the mutex; every session looked at is kept in seen, so that none is destroyed
// (which takes the mutex) before it is let go.
bool Admission::makeRoom(Budget &budget, const std::string &address,
                         std::vector<std::shared_ptr<SessionBase>> &seen)
{
    const auto held = budget.perAddress.find(address);
    const bool perAddressFull = held != budget.perAddress.end() && held->second >= m_limits.maxPerAddress;
    if (budget.sessions.size() < m_limits.maxConnections && !perAddressFull)
        return true;
    const auto now = SessionBase::Clock::now();
    // (weakest seat, longest without progress or earliest admitted, session)
    std::vector<std::tuple<int, int64_t, SessionBase *>> candidates;
    for (const auto &entry : budget.sessions) {
        if (perAddressFull && entry.second.address != address)
            continue;
        auto session = entry.second.session.lock();
        if (!session)
            continue;
        const SessionBase::Seat seat = session->seat(now, m_limits);
        if (seat == SessionBase::Seat::Idle)
            candidates.emplace_back(0, int64_t(entry.second.order), entry.first);
        else if (seat == SessionBase::Seat::Unstarted || seat == SessionBase::Seat::Stalled)
            candidates.emplace_back(1, session->lastProgress(), entry.first);
        else
            continue;
        seen.push_back(std::move(session));
    }
    std::sort(candidates.begin(), candidates.end());
    bool burstPassed = false; // not while a place is being made
    for (const auto &candidate : candidates) {
        if (std::get<2>(candidate)->evict()) {
            forget(budget, std::get<2>(candidate), burstPassed);
            return true;
        }
    }
    return false;
}

std::shared_ptr<SessionBase> Admission::admit(Budget &budget, const std::string &address,
                                              const std::function<std::shared_ptr<SessionBase>()> &make)
{
    std::shared_ptr<SessionBase> session;
    std::vector<std::shared_ptr<SessionBase>> seen; // let go after the lock
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!makeRoom(budget, address, seen))
        return nullptr;
    session = make();
    budget.sessions.emplace(session.get(), Entry{session, address, ++m_admissions});
    ++budget.perAddress[address];
    ++m_open;
    ++m_admittedSinceTrim;
    return session;
}

void Admission::forget(Budget &budget, SessionBase *session, bool &burstPassed)
{
    const auto found = budget.sessions.find(session);
    if (found == budget.sessions.end())
        return;
    const auto address = budget.perAddress.find(found->second.address);
    if (address != budget.perAddress.end() && --address->second == 0)
        budget.perAddress.erase(address);
    budget.sessions.erase(found);
    --m_open;
    // A burst of connections leaves the allocator's free lists full: once it has passed,
    // they go back to the system, so memory follows the work and not the connects.
    if (m_open <= 64 && m_admittedSinceTrim >= 1024) {
        m_admittedSinceTrim = 0;
        burstPassed = true;
    }
    if (m_open == 0)
        m_empty.notify_all();
}

void Admission::leave(Budget &budget, SessionBase *session)
{
    bool burstPassed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        forget(budget, session, burstPassed);
    }
    if (burstPassed && onBurstPassed)
        onBurstPassed();
}

std::vector<std::shared_ptr<SessionBase>> Admission::sessions(const std::vector<Budget *> &budgets) const
{
    std::vector<std::shared_ptr<SessionBase>> all;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Budget *budget : budgets)
        for (const auto &entry : budget->sessions)
            if (auto session = entry.second.session.lock())
                all.push_back(std::move(session));
    return all;
}

bool Admission::waitUntilEmpty(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_empty.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_open == 0; });
}

size_t Admission::open() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}
