#include "httpserver.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

// epoll tags of the server's own descriptors; connections are tagged with their address.
constexpr uint64_t ListenerTag = 1;
constexpr uint64_t TimerTag = 2;
constexpr uint64_t WakeTag = 3;

constexpr size_t ReadChunk = 64 * 1024;
// Pipelined answers are queued up to this much before they must be sent.
constexpr size_t OutHighWater = 256 * 1024;
// After a refusal the rest of the request may still be arriving: that much is
// discarded, for that long, so the client reads the refusal instead of a reset (and
// does not send it all again). A body over the limit is in this rest: a few MiB a
// client may well send, at no cost but reading.
constexpr size_t LingerBytes = 64 * 1024 * 1024;
constexpr int LingerMs = 10000;
constexpr int SweepMs = 250;
constexpr size_t MaxChunkLine = 1024;

unsigned char uchar(char c)
{
    return static_cast<unsigned char>(c);
}

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool isTokenChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
           || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Whether a comma-separated header value such as Connection names token (lower case).
bool hasToken(const std::string *value, std::string_view token)
{
    if (!value)
        return false;
    const std::string text = lower(*value);
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        if (trim(std::string_view(text).substr(start, end - start)) == token)
            return true;
        start = end + 1;
    }
    return false;
}

const char *reason(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 417:
        return "Expectation Failed";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return status < 300 ? "OK" : status < 500 ? "Bad Request" : "Internal Server Error";
    }
}

// The line that starts at from, without its CR LF (or bare LF); npos when it is not complete.
size_t lineEnd(const std::string &in, size_t from, std::string_view *line)
{
    const size_t nl = in.find('\n', from);
    if (nl == std::string::npos)
        return nl;
    size_t end = nl;
    if (end > from && in[end - 1] == '\r')
        --end;
    *line = std::string_view(in).substr(from, end - from);
    return nl + 1;
}

} // namespace

const std::string *HttpRequest::header(const char *name) const
{
    for (const auto &field : headers)
        if (field.first == name)
            return &field.second;
    return nullptr;
}

struct HttpServer::Connection
{
    enum class Phase {
        Head,
        Body,
        ChunkSize,
        ChunkData,
        ChunkEnd,
        Trailer
    };

    explicit Connection(int socket)
        : fd(socket)
    {
    }

    const int fd;
    std::string in;
    size_t pos = 0; // parsed up to here
    std::string out;
    size_t outPos = 0; // sent up to here

    Phase phase = Phase::Head;
    HttpRequest request;
    size_t left = 0; // of the body or the chunk
    size_t trailerBytes = 0;
    bool keepAlive = true;
    bool closeAfterFlush = false;
    bool lingering = false;
    size_t discarded = 0;
    bool served = false;

    // Read by the sweep while a worker holds the connection.
    std::atomic<int64_t> deadline{0};
    std::atomic<bool> idle{true};
    // One worker at a time holds a connection (EPOLLONESHOT), and the next one may be
    // another thread: the release when it is armed and the acquire when it is served
    // order one worker's writes before the next one's reads in the language's own
    // terms (and ThreadSanitizer's), not only through epoll.
    std::atomic<bool> handedOver{false};
};

HttpServer::HttpServer(Limits limits)
    : m_limits(limits)
{
}

HttpServer::~HttpServer()
{
    stop(0);
    for (int fd : {m_listener, m_epoll, m_timer, m_wake})
        if (fd >= 0)
            ::close(fd);
}

void HttpServer::route(const std::string &method, const std::string &path, Handler handler,
                       HeadCheck headCheck)
{
    m_routes.push_back({method, path, std::move(handler), std::move(headCheck)});
}

void HttpServer::setLogger(std::function<void(const HttpRequest &, const HttpResponse &)> logger)
{
    m_logger = std::move(logger);
}

int HttpServer::bind(const std::string &host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    for (addrinfo *a = found; a && m_listener < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        // Connections another program left in TIME_WAIT on the port must not keep us from it.
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // The system's full backlog: clients that connect in a burst are not reset.
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0)
            m_listener = fd;
        else
            ::close(fd);
    }
    freeaddrinfo(found);
    if (m_listener < 0)
        return -1;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(m_listener, reinterpret_cast<sockaddr *>(&bound), &length) != 0)
        return -1;
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
}

bool HttpServer::start(int workers)
{
    if (m_listener < 0 || !m_workers.empty())
        return false;
    // Every open connection is a descriptor: the soft limit (often 1024) would cap them
    // far below what the workers can hold.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 65536);
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    // Room is left for the other server, the database and the log.
    m_cap = std::min<size_t>(m_limits.maxConnections, files.rlim_cur > 128 ? files.rlim_cur - 96 : 32);

    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_epoll < 0 || m_timer < 0 || m_wake < 0)
        return false;
    itimerspec every{};
    every.it_interval.tv_nsec = SweepMs * 1000000L;
    every.it_value = every.it_interval;
    timerfd_settime(m_timer, 0, &every, nullptr);
    epoll_event e{};
    e.events = EPOLLIN | EPOLLONESHOT;
    e.data.u64 = ListenerTag;
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &e) != 0)
        return false;
    // Level-triggered and shared: the worker that reads the timer sweeps, and a wake-up
    // that is never read (to quit) reaches every worker.
    e.events = EPOLLIN;
    e.data.u64 = TimerTag;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_timer, &e);
    e.data.u64 = WakeTag;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &e);

    try {
        for (int i = 0; i < std::max(1, workers); ++i)
            m_workers.emplace_back([this] { work(); });
    } catch (const std::system_error &) {
        if (m_workers.empty())
            return false;
    }
    return true;
}

void HttpServer::stop(int graceMs)
{
    if (m_workers.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listener, nullptr);
    const uint64_t one = 1;
    // A sweep now closes the idle connections; the others end after their answer.
    (void)!write(m_wake, &one, sizeof one);
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_drained.wait_for(lock, std::chrono::milliseconds(graceMs),
                           [this] { return m_connections.empty(); });
    }
    m_quit = true;
    (void)!write(m_wake, &one, sizeof one);
    for (std::thread &t : m_workers)
        t.join();
    m_workers.clear();
    for (Connection *c : m_connections) {
        ::close(c->fd);
        delete c;
    }
    m_connections.clear();
}

size_t HttpServer::connectionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections.size();
}

void HttpServer::work()
{
    epoll_event events[8];
    while (!m_quit) {
        const int n = epoll_wait(m_epoll, events, 8, -1);
        if (n < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n && !m_quit; ++i) {
            const uint64_t tag = events[i].data.u64;
            uint64_t count = 0;
            if (tag == ListenerTag) {
                acceptAll();
            } else if (tag == TimerTag || tag == WakeTag) {
                if (read(tag == TimerTag ? m_timer : m_wake, &count, sizeof count) == sizeof count)
                    sweep();
            } else {
                serve(reinterpret_cast<Connection *>(events[i].data.ptr), events[i].events);
            }
        }
    }
}

void HttpServer::rearmListener()
{
    epoll_event e{};
    e.events = EPOLLIN | EPOLLONESHOT;
    e.data.u64 = ListenerTag;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listener, &e);
}

void HttpServer::acceptAll()
{
    for (int i = 0; i < 64; ++i) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            // Past the cap new clients wait in the backlog until a connection closes.
            if (m_connections.size() >= m_cap) {
                m_acceptPaused = true;
                return;
            }
        }
        const int fd = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors or memory: the sweep tries again shortly.
                std::lock_guard<std::mutex> lock(m_mutex);
                m_acceptPaused = true;
                return;
            }
            continue; // the client gave up before we took it
        }
        // Answers go out whole in one write; waiting for an ACK of the previous one
        // (Nagle against delayed ACK) would stall a kept-alive connection for 40 ms.
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        auto *c = new Connection(fd);
        c->deadline = nowMs() + m_limits.requestTimeoutMs;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping) {
                ::close(fd);
                delete c;
                return;
            }
            m_connections.insert(c);
        }
        c->handedOver.store(true, std::memory_order_release);
        epoll_event e{};
        e.events = EPOLLIN | EPOLLONESHOT;
        e.data.ptr = c;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e) != 0)
            close(c);
    }
    rearmListener();
}

void HttpServer::sweep()
{
    const int64_t now = nowMs();
    bool resume = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Connection *c : m_connections) {
            const int64_t deadline = c->deadline;
            // The worker that holds or next gets the connection finds it at its end and closes it.
            if ((deadline != 0 && now >= deadline) || (m_stopping && c->idle)) {
                c->deadline = 0;
                ::shutdown(c->fd, SHUT_RDWR);
            }
        }
        resume = resumeAcceptLocked();
    }
    if (resume)
        rearmListener();
}

bool HttpServer::resumeAcceptLocked()
{
    if (!m_acceptPaused || m_stopping || m_connections.size() >= m_cap)
        return false;
    m_acceptPaused = false;
    return true;
}

void HttpServer::arm(Connection *c, uint32_t events)
{
    c->handedOver.store(true, std::memory_order_release);
    epoll_event e{};
    e.events = events | EPOLLONESHOT;
    e.data.ptr = c;
    if (epoll_ctl(m_epoll, EPOLL_CTL_MOD, c->fd, &e) != 0)
        close(c);
}

void HttpServer::close(Connection *c)
{
    bool resume = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.erase(c);
        resume = resumeAcceptLocked();
        if (m_connections.empty())
            m_drained.notify_all();
    }
    ::close(c->fd);
    delete c;
    if (resume)
        rearmListener();
}

bool HttpServer::flush(Connection *c)
{
    while (c->outPos < c->out.size()) {
        const ssize_t n = ::send(c->fd, c->out.data() + c->outPos, c->out.size() - c->outPos, MSG_NOSIGNAL);
        if (n > 0) {
            c->outPos += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    c->outPos = 0;
    if (c->out.capacity() > OutHighWater)
        std::string().swap(c->out);
    else
        c->out.clear();
    return true;
}

void HttpServer::linger(Connection *c)
{
    if (!c->lingering) {
        c->lingering = true;
        c->idle = false;
        std::string().swap(c->in);
        c->pos = 0;
        ::shutdown(c->fd, SHUT_WR);
        c->deadline = nowMs() + LingerMs;
    }
    thread_local char scratch[ReadChunk];
    for (;;) {
        const ssize_t n = recv(c->fd, scratch, sizeof scratch, 0);
        if (n > 0 && (c->discarded += size_t(n)) <= LingerBytes)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return arm(c, EPOLLIN);
        return close(c);
    }
}

void HttpServer::serve(Connection *c, uint32_t)
{
    c->handedOver.load(std::memory_order_acquire);
    if (c->lingering)
        return linger(c);
    c->idle = false;
    if (c->outPos < c->out.size()) {
        if (!flush(c))
            return close(c);
        if (c->outPos < c->out.size()) {
            c->deadline = nowMs() + m_limits.requestTimeoutMs;
            return arm(c, EPOLLOUT);
        }
        if (c->closeAfterFlush)
            return linger(c);
    }
    thread_local char scratch[ReadChunk];
    int reads = 0;
    for (;;) {
        Step step = Step::NeedData;
        while (!c->closeAfterFlush && c->out.size() < OutHighWater && (step = next(c)) == Step::Answered) {}
        if (step == Step::Close)
            return close(c);
        if (!c->out.empty()) {
            if (!flush(c))
                return close(c);
            if (c->outPos < c->out.size()) {
                c->idle = false;
                c->deadline = nowMs() + m_limits.requestTimeoutMs;
                return arm(c, EPOLLOUT);
            }
        }
        if (c->closeAfterFlush)
            return linger(c);
        if (step == Step::Answered)
            continue; // stopped at the high-water mark: more may be buffered
        // Others get the worker too; the connection is still readable and comes back.
        if (++reads > 8)
            break;
        const ssize_t n = recv(c->fd, scratch, sizeof scratch, 0);
        if (n > 0) {
            c->in.append(scratch, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // The peer finished or failed: what it asked in full was answered above, and
        // a part of a request is not a request.
        return close(c);
    }
    const bool between = c->phase == Connection::Phase::Head && c->pos == c->in.size();
    if (between && c->in.capacity() > 4096)
        std::string().swap(c->in);
    if (!between) {
        // Qt writes a POST's head and body separately without TCP_NODELAY: its body
        // waits for our ACK of the head, which a delayed ACK holds back 40 ms. Setting
        // quick-ACK sends the pending one now (it is not permanent, hence every time).
        const int yes = 1;
        setsockopt(c->fd, IPPROTO_TCP, TCP_QUICKACK, &yes, sizeof yes);
    }
    c->idle = between;
    c->deadline = nowMs() + (between && c->served ? m_limits.idleTimeoutMs : m_limits.requestTimeoutMs);
    arm(c, EPOLLIN);
}

void HttpServer::refuse(Connection *c, int status, const char *text)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain";
    response.body = text;
    c->closeAfterFlush = true;
    queue(c, c->request, response, false);
}

HttpServer::Step HttpServer::next(Connection *c)
{
    using Phase = Connection::Phase;
    if (c->phase == Phase::Head) {
        // Empty lines before a request are allowed and skipped.
        while (c->pos < c->in.size() && (c->in[c->pos] == '\r' || c->in[c->pos] == '\n'))
            ++c->pos;
        if (c->pos == c->in.size()) {
            c->in.clear();
            c->pos = 0;
            return Step::NeedData;
        }
        if (!isTokenChar(uchar(c->in[c->pos]))) {
            refuse(c, 400, "request refused\n");
            return Step::Answered;
        }
        std::string_view line;
        size_t at = lineEnd(c->in, c->pos, &line);
        if (at == std::string::npos ? c->in.size() - c->pos > m_limits.maxRequestLine
                                    : line.size() > m_limits.maxRequestLine) {
            refuse(c, 414, "request line too long\n");
            return Step::Answered;
        }
        // The whole head must be here before any of it is taken.
        size_t end = at;
        size_t count = 0;
        while (end != std::string::npos) {
            std::string_view field;
            end = lineEnd(c->in, end, &field);
            if (end != std::string::npos && field.empty())
                break;
            if (end != std::string::npos && ++count > m_limits.maxHeaderCount) {
                refuse(c, 431, "too many header fields\n");
                return Step::Answered;
            }
        }
        if (end == std::string::npos ? c->in.size() - c->pos > m_limits.maxHeaderBytes
                                     : end - c->pos > m_limits.maxHeaderBytes) {
            refuse(c, 431, "request header too large\n");
            return Step::Answered;
        }
        if (at == std::string::npos || end == std::string::npos)
            return Step::NeedData;

        // METHOD SP target SP HTTP/1.x
        HttpRequest &r = c->request;
        const size_t sp1 = line.find(' ');
        const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
        if (sp2 == std::string_view::npos || sp2 == sp1 + 1) {
            refuse(c, 400, "request refused\n");
            return Step::Answered;
        }
        const std::string_view method = line.substr(0, sp1);
        std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
        const std::string_view version = line.substr(sp2 + 1);
        const bool badTarget =
            std::any_of(target.begin(), target.end(), [](char ch) { return uchar(ch) <= ' ' || ch == 0x7f; });
        if (!std::all_of(method.begin(), method.end(), [](char ch) { return isTokenChar(uchar(ch)); })
            || badTarget || version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.'
            || !std::isdigit(uchar(version[5])) || !std::isdigit(uchar(version[7]))) {
            refuse(c, 400, "request refused\n");
            return Step::Answered;
        }
        r.method = std::string(method);
        // An absolute target names the host first.
        if (target.substr(0, 7) == "http://" || target.substr(0, 8) == "https://") {
            const size_t slash = target.find('/', target.find("//") + 2);
            target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
        r.path = std::string(target.substr(0, target.find('?')));
        if (version[5] != '1' || (version[7] != '0' && version[7] != '1')) {
            refuse(c, 505, "only HTTP/1.0 and HTTP/1.1 are served\n");
            return Step::Answered;
        }
        r.minorVersion = version[7] - '0';

        size_t from = at;
        for (;;) {
            std::string_view field;
            from = lineEnd(c->in, from, &field);
            if (field.empty())
                break;
            const size_t colon = field.find(':');
            const std::string_view name = colon == std::string_view::npos ? field : field.substr(0, colon);
            const std::string_view value =
                colon == std::string_view::npos ? field : trim(field.substr(colon + 1));
            // Folded lines and names with spaces are how requests get smuggled past proxies.
            if (colon == std::string_view::npos || name.empty()
                || !std::all_of(name.begin(), name.end(), [](char ch) { return isTokenChar(uchar(ch)); })
                || std::any_of(value.begin(), value.end(),
                               [](char ch) { return (uchar(ch) < ' ' && ch != '\t') || ch == 0x7f; })) {
                refuse(c, 400, "request refused\n");
                return Step::Answered;
            }
            r.headers.emplace_back(lower(name), std::string(value));
        }
        c->pos = from;
        c->served = true;

        const std::string *connection = r.header("connection");
        c->keepAlive =
            r.minorVersion == 1 ? !hasToken(connection, "close") : hasToken(connection, "keep-alive");

        // Framing: a length, chunks, or nothing; both at once is refused.
        const std::string *encoding = r.header("transfer-encoding");
        size_t length = 0;
        bool hasLength = false;
        for (const auto &field : r.headers) {
            if (field.first != "content-length")
                continue;
            const std::string &v = field.second;
            if (v.empty()
                || !std::all_of(v.begin(), v.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
                refuse(c, 400, "request refused\n");
                return Step::Answered;
            }
            // Still a number, only a huge one: refused as too large, like any other.
            if (v.size() > 19) {
                refuse(c, 413, "request body too large\n");
                return Step::Answered;
            }
            const size_t value = std::stoull(v);
            if (hasLength && value != length) {
                refuse(c, 400, "request refused\n");
                return Step::Answered;
            }
            hasLength = true;
            length = value;
        }
        if (encoding && hasLength) {
            refuse(c, 400, "request refused\n");
            return Step::Answered;
        }
        if (encoding && lower(trim(*encoding)) != "chunked") {
            refuse(c, 501, "only chunked transfer coding is accepted\n");
            return Step::Answered;
        }
        // Refused from the header alone: nothing of a body past the limit is read.
        if (length > m_limits.maxBody) {
            refuse(c, 413, "request body too large\n");
            return Step::Answered;
        }
        for (const Route &route : m_routes) {
            if (route.path != r.path || route.method != r.method || !route.headCheck)
                continue;
            HttpResponse refusal;
            refusal.status = 0;
            route.headCheck(r, refusal);
            if (refusal.status != 0) {
                c->closeAfterFlush = true;
                queue(c, r, refusal, false);
                return Step::Answered;
            }
        }
        if (const std::string *expect = r.header("expect")) {
            if (lower(*expect) != "100-continue") {
                refuse(c, 417, "only Expect: 100-continue is understood\n");
                return Step::Answered;
            }
            if ((encoding || length > 0) && c->pos == c->in.size())
                c->out += "HTTP/1.1 100 Continue\r\n\r\n";
        }
        c->left = length;
        c->trailerBytes = 0;
        c->phase = encoding ? Phase::ChunkSize : Phase::Body;
    }
    const Step step = c->phase == Phase::Body ? readBody(c) : readChunks(c);
    if (step != Step::Answered)
        return step;
    // Nothing else can have been queued by now but a refusal, which ends the connection.
    if (!c->closeAfterFlush)
        answer(c, c->request);
    c->phase = Phase::Head;
    c->request = HttpRequest();
    // What was taken goes, so a long pipeline does not keep every request it carried.
    if (c->pos > 0) {
        c->in.erase(0, c->pos);
        c->pos = 0;
    }
    return Step::Answered;
}

HttpServer::Step HttpServer::readBody(Connection *c)
{
    const size_t take = std::min(c->left, c->in.size() - c->pos);
    c->request.body.append(c->in, c->pos, take);
    c->pos += take;
    c->left -= take;
    return c->left == 0 ? Step::Answered : Step::NeedData;
}

HttpServer::Step HttpServer::readChunks(Connection *c)
{
    using Phase = Connection::Phase;
    HttpRequest &r = c->request;
    for (;;) {
        std::string_view line;
        switch (c->phase) {
        case Phase::ChunkSize: {
            const size_t at = lineEnd(c->in, c->pos, &line);
            if (at == std::string::npos) {
                if (c->in.size() - c->pos > MaxChunkLine)
                    break;
                return Step::NeedData;
            }
            if (line.size() > MaxChunkLine)
                break;
            size_t size = 0, digits = 0;
            for (; digits < line.size() && std::isxdigit(uchar(line[digits])); ++digits) {
                size = size * 16
                       + size_t(std::isdigit(uchar(line[digits])) ? line[digits] - '0'
                                                                  : (line[digits] | 0x20) - 'a' + 10);
                // Past the limit already: refused before the digits could overflow anything.
                if (size > m_limits.maxBody) {
                    refuse(c, 413, "request body too large\n");
                    return Step::Answered;
                }
            }
            const std::string_view rest = trim(line.substr(digits));
            if (digits == 0 || (!rest.empty() && rest.front() != ';'))
                break;
            if (r.body.size() + size > m_limits.maxBody) {
                refuse(c, 413, "request body too large\n");
                return Step::Answered;
            }
            c->pos = at;
            c->left = size;
            c->phase = size == 0 ? Phase::Trailer : Phase::ChunkData;
            continue;
        }
        case Phase::ChunkData:
            if (readBody(c) == Step::NeedData)
                return Step::NeedData;
            c->phase = Phase::ChunkEnd;
            continue;
        case Phase::ChunkEnd: {
            const size_t at = lineEnd(c->in, c->pos, &line);
            if (at == std::string::npos) {
                if (c->in.size() - c->pos >= 2)
                    break;
                return Step::NeedData;
            }
            if (!line.empty())
                break;
            c->pos = at;
            c->phase = Phase::ChunkSize;
            continue;
        }
        case Phase::Trailer: {
            const size_t at = lineEnd(c->in, c->pos, &line);
            if (at == std::string::npos) {
                if (c->in.size() - c->pos + c->trailerBytes > m_limits.maxHeaderBytes) {
                    refuse(c, 431, "request header too large\n");
                    return Step::Answered;
                }
                return Step::NeedData;
            }
            c->trailerBytes += at - c->pos;
            c->pos = at;
            if (c->trailerBytes > m_limits.maxHeaderBytes) {
                refuse(c, 431, "request header too large\n");
                return Step::Answered;
            }
            if (!line.empty())
                continue; // trailer fields are read past, not used
            return Step::Answered;
        }
        default:
            return Step::Answered;
        }
        // Broken chunking: a part of a query is not a query.
        refuse(c, 400, "request refused\n");
        return Step::Answered;
    }
}

void HttpServer::answer(Connection *c, HttpRequest &request)
{
    HttpResponse response;
    const Route *onPath = nullptr;
    const Route *match = nullptr;
    std::string allow;
    for (const Route &r : m_routes) {
        if (r.path != request.path)
            continue;
        onPath = &r;
        allow += (allow.empty() ? "" : ", ") + r.method;
        if (r.method == request.method)
            match = &r;
    }
    if (match) {
        try {
            match->handler(request, response);
        } catch (...) {
            response = HttpResponse();
            response.status = 500;
            response.contentType = "text/plain";
            response.body = "internal error\n";
        }
    } else {
        response.status = onPath ? 405 : 404;
        response.contentType = "text/plain";
        response.body = onPath ? "method not allowed\n" : "not found\n";
        if (onPath)
            response.headers.emplace_back("Allow", allow);
    }
    bool keepAlive = c->keepAlive;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        keepAlive = keepAlive && !m_stopping;
    }
    if (!keepAlive)
        c->closeAfterFlush = true;
    queue(c, request, response, keepAlive);
}

void HttpServer::queue(Connection *c, const HttpRequest &request, HttpResponse &response, bool keepAlive)
{
    std::string &out = c->out;
    out.reserve(out.size() + 160 + response.body.size());
    out += "HTTP/1.1 ";
    out += std::to_string(response.status);
    out += ' ';
    out += reason(response.status);
    out += "\r\n";
    for (const auto &field : response.headers) {
        out += field.first;
        out += ": ";
        out += field.second;
        out += "\r\n";
    }
    if (!response.contentType.empty()) {
        out += "Content-Type: ";
        out += response.contentType;
        out += "\r\n";
    }
    out += "Content-Length: ";
    out += std::to_string(response.body.size());
    out += "\r\n";
    if (!keepAlive)
        out += "Connection: close\r\n";
    else if (request.minorVersion == 0)
        out += "Connection: keep-alive\r\n";
    out += "\r\n";
    if (request.method != "HEAD")
        out += response.body;
    if (m_logger)
        m_logger(request, response);
}
