// What a walk checks after every action, on what has come back so far: whole HTTP/1.1 answers
// in the order of the requests (an echo carries its own request's body, and every body is
// another), at most one 100 Continue per Expect request and before its final answer, no body
// on a HEAD answer, nothing after an answer that closes. Every wait is bounded: a server that
// neither answers nor closes in time hangs, which is a finding like a crash. A walk that kept
// brisk (little silence in all) must also have every request it sent whole answered, up to
// one whose answer closes: none of the server's bounds can have run out on it.
#include "http_walk.h"

#include "fuzzcheck.h"

#include <boost/beast/http.hpp>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace http = boost::beast::http;
using Clock = std::chrono::steady_clock;

namespace HttpWalk {
namespace {

constexpr size_t MaxActions = 64;
// The walk's server bounds a request, and the wait for the next one, to 100 ms: silence under
// a quarter of that cannot reach either, even when a loaded machine holds the server back.
constexpr int BriskMs = 25;
constexpr int StallBudgetMs = 300;
constexpr int ReadWaitMs = 20; // for a Read's answers, and for the 100 an Expect waits for
constexpr int HangMs = 10000;

const int knownStatuses[] = {100, 200, 400, 404, 405, 408, 413, 415, 417, 431, 500, 501, 503, 505};

struct Request
{
    std::string body;          // what its echo carries
    std::vector<int> statuses; // its final answer's, besides 408 that closes; empty: any
    bool head = false;
    bool expect = false;
    bool closes = false;            // framing that cannot be read past: its refusal ends the connection
    size_t end = std::string::npos; // where its last byte is in the client's stream
    int continues = 0;
};

// HTTP_WALK_TRACE=1 in the environment: what the client does and gets, on stderr, to read
// a finding by.
const bool g_trace = std::getenv("HTTP_WALK_TRACE") != nullptr;

void trace(const char *what, const std::string &bytes)
{
    if (!g_trace)
        return;
    std::string shown;
    for (const unsigned char c : bytes) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7f && c != '\\' ? "%c" : "\\x%02x", c);
        shown += c == '\n' ? std::string("\\n\n    ") : std::string(escaped);
    }
    std::fprintf(stderr, "%s %s\n", what, shown.c_str());
}

int msSince(Clock::time_point start)
{
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class Connection
{
public:
    explicit Connection(int port)
        : m_fd(connectToServer(port))
    {
    }
    ~Connection() { ::close(m_fd); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool writable() const { return !m_writeClosed && !m_broken; }
    bool ended() const { return m_closed || m_eof; }
    size_t requestCount() const { return m_requests.size(); }
    const Request &request(size_t i) const { return m_requests[i]; }
    size_t answered() const { return m_answered; }
    bool brisk() const { return m_silentMs < BriskMs; }
    void addSilence(int ms) { m_silentMs += ms; }
    void split(int at) { m_cut = at; }

    // A request is begun, then its bytes are queued, to go at the next flush; its end is known
    // with its last byte.
    void begin(Request request) { m_requests.push_back(std::move(request)); }
    void queue(const std::string &bytes, bool last)
    {
        m_out += bytes;
        m_queued += bytes.size();
        if (last)
            m_requests.back().end = m_queued;
    }

    // Writes what is queued, or only up to a split point, whose rest waits for the next flush.
    void flush()
    {
        if (m_out.empty() || !writable())
            return;
        size_t count = m_out.size();
        if (m_cut >= 0) {
            count = count * size_t(m_cut) / 256;
            m_cut = -1;
        }
        size_t done = 0;
        while (done < count && !m_broken) {
            const ssize_t n = ::send(m_fd, m_out.data() + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                trace("  >>", m_out.substr(done, size_t(n)));
                done += size_t(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                awaitRoom();
            } else if (!(n < 0 && errno == EINTR)) {
                m_broken = true; // the server has closed: what it answered still counts
            }
        }
        m_out.erase(0, done);
        m_flushed += done;
    }
    void flushAll()
    {
        flush();
        flush();
    }

    void closeWrite()
    {
        flushAll();
        ::shutdown(m_fd, SHUT_WR);
        m_writeClosed = true;
    }

    // Reads what has come and checks it; then, while done() is false and the server is still
    // there, waits up to ms for more. The wait is the client's silence.
    void await(const std::function<bool()> &done, int ms)
    {
        const auto start = Clock::now();
        receive();
        while (!done() && !m_eof && msSince(start) < ms) {
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, std::max(1, ms - msSince(start))); // EINTR: libFuzzer's timer
            receive();
        }
        m_silentMs += msSince(start);
    }
    void receive()
    {
        char buffer[16384];
        while (!m_eof) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                m_in.append(buffer, size_t(n));
                trace("  <<", std::string(buffer, size_t(n)));
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else if (!(n < 0 && errno == EINTR)) {
                m_eof = true; // closed, or reset after an answer that closed
                trace("  <<", "(closed)");
            }
        }
        // Echoes are of bodies under 64 bytes; the heads around them are small.
        FUZZ_CHECK(m_in.size() < 1024 * 1024);
        check();
    }

    // Every request written whole has its final answer, or the connection is over.
    bool answeredWhole() const
    {
        size_t whole = 0;
        while (whole < m_requests.size() && m_requests[whole].end <= m_flushed)
            ++whole;
        return m_answered >= whole || ended();
    }

    // The end of the walk: all of it written, the stream ended, the server's last answers read
    // up to its close.
    void finish()
    {
        const bool wasBrisk = brisk();
        if (!m_writeClosed)
            closeWrite();
        await([] { return false; }, HangMs);
        const bool closesInTime = m_eof;
        FUZZ_CHECK(closesInTime);
        if (wasBrisk) {
            const bool everyRequestAnswered = m_closed || m_answered == m_requests.size();
            FUZZ_CHECK(everyRequestAnswered);
        }
    }

private:
    // The server reads on while its queue of answers has room, and these are short: a socket
    // buffer that stays full means it stopped.
    void awaitRoom()
    {
        const auto start = Clock::now();
        for (;;) {
            pollfd p{m_fd, POLLIN | POLLOUT, 0};
            ::poll(&p, 1, 100);
            if (p.revents & POLLIN)
                receive();
            if (p.revents & (POLLOUT | POLLERR | POLLHUP))
                return;
            const bool serverReadsOn = msSince(start) < HangMs;
            FUZZ_CHECK(serverReadsOn);
        }
    }

    void check()
    {
        while (m_at < m_in.size()) {
            const bool nothingAfterClose = !m_closed;
            FUZZ_CHECK(nothingAfterClose);
            if (m_afterHead) {
                // A HEAD answer's Content-Length tells of a body it must not carry.
                const size_t n = std::min<size_t>(m_in.size() - m_at, 9);
                const bool headAnswerWithoutBody = m_in.compare(m_at, n, "HTTP/1.1 ", n) == 0;
                FUZZ_CHECK(headAnswerWithoutBody);
            }
            const bool asked = m_answered < m_requests.size();
            Request unasked;
            Request &request = asked ? m_requests[m_answered] : unasked;
            http::response_parser<http::string_body> parser;
            parser.eager(true);
            parser.skip(request.head);
            parser.body_limit(1024 * 1024);
            boost::beast::error_code ec;
            const size_t used = parser.put(boost::asio::buffer(m_in.data() + m_at, m_in.size() - m_at), ec);
            if (ec == http::error::need_more || (!ec && !parser.is_done())) {
                const bool wholeAnswer = !m_eof; // the rest may still come, unless the server went
                FUZZ_CHECK(wholeAnswer);
                return;
            }
            const bool wellFormed = !ec;
            FUZZ_CHECK(wellFormed);
            m_at += used;
            m_afterHead = false;
            judge(request, parser.get(), asked);
        }
    }

    void judge(Request &request, const http::response<http::string_body> &answer, bool asked)
    {
        const int status = answer.result_int();
        // Only a bound that ran out between requests may be told of with no request to answer.
        const bool answersARequest = asked || status == 408;
        FUZZ_CHECK(answersARequest);
        const bool http11 = answer.version() == 11;
        FUZZ_CHECK(http11);
        const bool knownStatus =
            std::find(std::begin(knownStatuses), std::end(knownStatuses), status) != std::end(knownStatuses);
        FUZZ_CHECK(knownStatus);
        if (status == 100) {
            const bool continueAskedForOnce = request.expect && request.continues == 0;
            FUZZ_CHECK(continueAskedForOnce);
            ++request.continues;
            return;
        }
        const bool framed = answer.has_content_length();
        FUZZ_CHECK(framed);
        ++m_answered;
        m_closed = !answer.keep_alive();
        m_afterHead = request.head;
        // A bound that ran out (a stall) may end any request so; the connection goes with it.
        if (status == 408) {
            const bool timeoutCloses = m_closed;
            FUZZ_CHECK(timeoutCloses);
            return;
        }
        if (request.statuses.empty())
            return;
        const bool expectedStatus =
            std::find(request.statuses.begin(), request.statuses.end(), status) != request.statuses.end();
        FUZZ_CHECK(expectedStatus);
        const bool ownBody = status != 200 || answer.body() == request.body;
        FUZZ_CHECK(ownBody);
        const bool refusalCloses = !request.closes || m_closed;
        FUZZ_CHECK(refusalCloses);
    }

    const int m_fd;
    std::string m_out;                  // queued, not yet written
    size_t m_queued = 0, m_flushed = 0; // of the client's stream
    int m_cut = -1;
    std::string m_in;
    size_t m_at = 0; // where the next answer begins
    std::vector<Request> m_requests;
    size_t m_answered = 0; // final answers
    bool m_afterHead = false;
    bool m_closed = false; // an answer said so
    bool m_eof = false;
    bool m_writeClosed = false;
    bool m_broken = false;
    int m_silentMs = 0;
};

std::string bodyFor(size_t n, size_t length)
{
    std::string body = "#" + std::to_string(n) + ":";
    for (size_t i = 0; i < length; ++i)
        body += char('a' + (n + i) % 26);
    return body;
}

std::string contentLength(const std::string &body)
{
    return "Content-Length: " + std::to_string(body.size()) + "\r\n";
}

std::string chunked(const std::string &body, bool twoChunks, bool extension)
{
    const size_t first = twoChunks ? body.size() / 2 : body.size();
    std::string out;
    for (const std::string &chunk : {body.substr(0, first), body.substr(first)}) {
        if (chunk.empty())
            continue;
        char size[20];
        std::snprintf(size, sizeof size, "%zx", chunk.size());
        out += size + std::string(extension && out.empty() ? ";q=\"a b\\\"\"" : "") + "\r\n" + chunk + "\r\n";
    }
    return out + "0\r\n\r\n";
}

const char *const postHead = "POST /search HTTP/1.1\r\nHost: x\r\n";

// A request the service must refuse, its framing unreadable past it, and the statuses that may.
std::string malformed(uint8_t argument, std::vector<int> *statuses)
{
    *statuses = {400};
    const std::string post = postHead;
    switch (argument % 6) {
    case 0: {
        // Beside HTAB, a quoted string holds no control byte (RFC 9110, 5.6.4).
        static const char controls[] = {'\0', '\x01', '\n', '\r', '\x1f', '\x7f'};
        const char control = controls[argument / 6 % sizeof controls];
        return post + "Transfer-Encoding: chunked\r\n\r\n1;e=\"a" + control + "b\"\r\nz\r\n0\r\n\r\n";
    }
    case 1:
        return post + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc";
    case 2:
        return post + "X-Folded: a\r\n b\r\nContent-Length: 1\r\n\r\nz";
    case 3:
        *statuses = {400, 501};
        return post + "Transfer-Encoding: gzip, chunked\r\n\r\n1\r\nz\r\n0\r\n\r\n";
    case 4:
        return post + "Transfer-Encoding: chunked, chunked\r\n\r\n1\r\nz\r\n0\r\n\r\n";
    default:
        *statuses = {400, 501};
        return post + "Transfer-Encoding: identity\r\n\r\nz";
    }
}

// A request on a connection of its own, while the walk's holds whatever it holds: answered,
// or closed, in time.
void otherConnection(int port, size_t n)
{
    Connection other(port);
    Request request;
    request.body = "other " + bodyFor(n, 8);
    request.statuses = {200};
    other.begin(request);
    other.queue(postHead + contentLength(request.body) + "\r\n" + request.body, true);
    other.flush();
    other.await([&] { return other.answered() > 0 || other.ended(); }, HangMs);
    const bool otherConnectionServed = other.answered() > 0 || other.ended();
    FUZZ_CHECK(otherConnectionServed);
}

} // namespace

void run(const uint8_t *data, size_t size, int port)
{
    Connection connection(port);
    int stalledMs = 0;
    for (size_t i = 0; i < std::min((size + 1) / 2, MaxActions); ++i) {
        const Action action = Action(data[2 * i] % ActionCount);
        const uint8_t argument = 2 * i + 1 < size ? data[2 * i + 1] : 0;
        static const char *const names[] = {"Post",           "PostChunked", "PostEmpty", "ExpectWaiting",
                                            "ExpectAtOnce",   "Head",        "Misrouted", "Malformed",
                                            "Split",          "Stall",       "Read",      "CloseWrite",
                                            "OtherConnection"};
        static_assert(sizeof names / sizeof *names == ActionCount, "a name for every action");
        trace(names[action], std::to_string(argument));
        const size_t n = connection.requestCount();
        const bool sends = action <= Malformed;
        if (sends && !connection.writable())
            continue;
        Request request;
        request.statuses = {200};
        request.body = bodyFor(n, argument & 0x1f);
        const std::string &body = request.body;
        switch (action) {
        case Post:
            connection.begin(request);
            connection.queue(postHead + contentLength(body) + "\r\n" + body, true);
            break;
        case PostChunked:
            connection.begin(request);
            connection.queue(std::string(postHead) + "Transfer-Encoding: chunked\r\n\r\n"
                                 + chunked(body, argument & 0x80, argument & 0x40),
                             true);
            break;
        case PostEmpty:
            request.body.clear();
            connection.begin(request);
            connection.queue(postHead + std::string(argument & 1 ? "Content-Length: 0\r\n" : "") + "\r\n",
                             true);
            break;
        case ExpectWaiting:
        case ExpectAtOnce: {
            request.expect = true;
            const bool isChunked = argument & 0x20;
            const std::string head = postHead + std::string("Expect: 100-continue\r\n")
                                     + (isChunked ? "Transfer-Encoding: chunked\r\n" : contentLength(body))
                                     + "\r\n";
            const std::string content = isChunked ? chunked(body, false, false) : body;
            connection.begin(request);
            if (action == ExpectAtOnce) {
                connection.queue(head + content, true);
                break;
            }
            // The body only once the interim answer has come (or the final one, or a while).
            connection.queue(head, false);
            connection.flush();
            connection.await(
                [&] {
                    return connection.request(n).continues > 0 || connection.answered() > n
                           || connection.ended();
                },
                ReadWaitMs);
            connection.queue(content, true);
            break;
        }
        case Head:
            request.head = true;
            request.statuses.clear();
            connection.begin(request);
            connection.queue("HEAD /search HTTP/1.1\r\nHost: x\r\n\r\n", true);
            break;
        case Misrouted:
            if (argument % 3 == 0) {
                request.statuses = {405};
                connection.begin(request);
                connection.queue("GET /search HTTP/1.1\r\nHost: x\r\n\r\n", true);
            } else if (argument % 3 == 1) {
                request.statuses = {404};
                connection.begin(request);
                connection.queue("POST /other HTTP/1.1\r\nHost: x\r\n" + contentLength(body) + "\r\n" + body,
                                 true);
            } else {
                request.statuses = {415};
                connection.begin(request);
                connection.queue(postHead + std::string("Content-Type: multipart/form-data; boundary=b\r\n")
                                     + contentLength(body) + "\r\n" + body,
                                 true);
            }
            break;
        case Malformed: {
            request.closes = true;
            const std::string bytes = malformed(argument, &request.statuses);
            connection.begin(request);
            connection.queue(bytes, true);
            break;
        }
        case Split:
            connection.split(argument);
            break;
        case Stall: {
            connection.flush();
            const int ms = 1 + argument % 32;
            if (stalledMs + ms > StallBudgetMs)
                break;
            stalledMs += ms;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            connection.addSilence(ms);
            break;
        }
        case Read:
            connection.flush();
            connection.await([&] { return connection.answeredWhole(); }, ReadWaitMs);
            break;
        case CloseWrite:
            if (connection.writable())
                connection.closeWrite();
            break;
        case OtherConnection: {
            connection.flush();
            const auto start = Clock::now();
            otherConnection(port, n);
            connection.addSilence(msSince(start));
            break;
        }
        case ActionCount:
            break;
        }
        connection.receive();
    }
    connection.finish();
}

} // namespace HttpWalk
