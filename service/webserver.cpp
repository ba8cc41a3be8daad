#include "webserver.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
// Each connection's work runs on a strand of its own, named by its concrete type: the
// type-erased executor of beast::tcp_stream costs more than the rest of a read.
using Strand = net::strand<net::io_context::executor_type>;
using TcpStream = beast::basic_stream<tcp, Strand>;
using TlsStream = beast::ssl_stream<TcpStream>;
using Clock = std::chrono::steady_clock;

const std::string *HttpRequest::header(const char *name) const
{
    for (const auto &field : headers)
        if (field.first == name)
            return &field.second;
    return nullptr;
}

namespace {

// Answers written but not yet taken, per connection: a pipelining client that does not
// read stops being read from.
constexpr size_t AnswerQueue = 8;
// Chunk lines and trailers beside the body: what the buffer may hold unparsed.
constexpr size_t FramingRoom = 16 * 1024;
// What a connection reads before a request has begun (a TLS ClientHello, blank lines or the
// start of a head), and at a time once it has.
constexpr size_t FirstRead = 1024;
constexpr size_t ReadChunk = 16 * 1024;
// A refused TLS client may say goodbye; it is not waited for long.
constexpr auto CloseNotifyWait = std::chrono::seconds(1);

// Method and path as the log shows them: a forged line or a terminal escape cannot pass.
std::string printable(beast::string_view text)
{
    if (text.empty())
        return "-";
    std::string out;
    out.reserve(text.size());
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += char(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

std::string lowered(beast::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

const char *textOf(int status)
{
    switch (status) {
    case 404:
        return "not found\n";
    case 405:
        return "method not allowed\n";
    case 413:
        return "request body too large\n";
    case 417:
        return "only Expect: 100-continue is understood\n";
    case 431:
        return "request header too large\n";
    case 501:
        return "only chunked transfer coding is accepted\n";
    case 503:
        return "too many connections\n";
    case 505:
        return "only HTTP/1.0 and HTTP/1.1 are served\n";
    default:
        return "request refused\n";
    }
}

// What a failed read of a request head or body calls for: a refusal, or (0) closing in silence,
// for a client that went, stalled past its bound or sent nothing.
int refusalFor(const beast::error_code &ec)
{
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        return 431;
    if (ec == http::error::body_limit)
        return 413;
    if (ec == http::error::bad_version)
        return 505;
    if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == http::error::partial_message
        || ec == net::error::eof || ec == net::error::operation_aborted || ec == net::error::connection_reset
        || ec == net::ssl::error::stream_truncated)
        return 0;
    return 400;
}

bool isTchar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// The status a Transfer-Encoding value (every field of it, joined) calls for: 0 when it is
// exactly the one coding "chunked". It is read whole by RFC 9110's list grammar
//   #transfer-coding, transfer-coding = token *( OWS ";" OWS token BWS "=" BWS ( token / quoted-string ) )
// so that no front end can read it otherwise than the service does: what does not parse is
// 400, codings other than one "chunked" are 501 (or 400 for chunked given twice or with parameters).
int transferEncodingStatus(beast::string_view value)
{
    const char *p = value.data(), *const end = p + value.size();
    const auto ows = [&] {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
    };
    const auto token = [&] {
        const char *start = p;
        while (p < end && isTchar(*p))
            ++p;
        return beast::string_view(start, size_t(p - start));
    };
    int chunked = 0, others = 0;
    bool parameters = false;
    for (;;) {
        ows();
        const beast::string_view coding = token();
        if (!coding.empty()) {
            (beast::iequals(coding, "chunked") ? chunked : others) += 1;
            for (ows(); p < end && *p == ';'; ows()) {
                ++p;
                ows();
                if (token().empty())
                    return 400;
                ows();
                if (p == end || *p++ != '=')
                    return 400;
                ows();
                if (p < end && *p == '"') {
                    for (++p; p < end && *p != '"'; ++p)
                        if (*p == '\\' && ++p == end)
                            return 400;
                    if (p++ == end)
                        return 400;
                } else if (token().empty()) {
                    return 400;
                }
                parameters = true;
            }
        }
        ows();
        if (p == end)
            break;
        if (*p++ != ',')
            return 400;
    }
    if (others > 0)
        return 501;
    return chunked == 1 && !parameters ? 0 : 400;
}

// The path of a target in origin form ("/search?x") or absolute form ("http://host/search").
std::string pathOf(beast::string_view target)
{
    const size_t scheme = target.find("://");
    if (!target.empty() && target.front() != '/' && scheme != beast::string_view::npos
        && (beast::iequals(target.substr(0, scheme), "http")
            || beast::iequals(target.substr(0, scheme), "https"))) {
        target.remove_prefix(scheme + 3);
        const size_t path = target.find_first_of("/?");
        target = path == beast::string_view::npos ? beast::string_view("/") : target.substr(path);
        if (target.front() == '?')
            return "/";
    }
    return std::string(target.substr(0, target.find('?')));
}

} // namespace

// What the server knows of a session: whether a request of it is in progress, so that a
// cap may close one that has none, and what it waits for.
class SessionBase : public std::enable_shared_from_this<SessionBase>
{
public:
    enum State {
        Open,
        Busy,
        Evicted
    };

    virtual ~SessionBase() = default;
    virtual void start() = 0;
    // Closes the session on its strand, whatever it does.
    virtual void close() = 0;

    // Taken by a cap (any thread): only a session with no request in progress goes.
    bool evict()
    {
        int open = Open;
        if (!m_state.compare_exchange_strong(open, Evicted))
            return false;
        close();
        return true;
    }
    // Between requests of a kept-alive connection, with nothing of the next one read.
    bool keptAlive() const { return m_keptAlive.load(std::memory_order_relaxed); }
    bool busy() const { return m_state.load(std::memory_order_relaxed) != Open; }

protected:
    // A request has arrived: false when a cap took the session first.
    bool begin()
    {
        int open = Open;
        return m_state.compare_exchange_strong(open, Busy) || m_state.load() == Busy;
    }
    void end()
    {
        int busy = Busy;
        m_state.compare_exchange_strong(busy, Open);
    }
    void setKeptAlive(bool kept) { m_keptAlive.store(kept, std::memory_order_relaxed); }

private:
    std::atomic<int> m_state{Open};
    std::atomic<bool> m_keptAlive{false};
};

struct WebServer::Impl
{
    struct Entry
    {
        std::weak_ptr<SessionBase> session;
        std::string address;
        uint64_t order = 0; // of admission
    };
    struct Endpoint
    {
        std::vector<Route> routes;
        std::unique_ptr<ssl::context> tls;
        std::unique_ptr<tcp::acceptor> acceptor;
        // Each endpoint its own budget, kept under the server's mutex.
        std::unordered_map<SessionBase *, Entry> sessions;
        std::unordered_map<std::string, size_t> perAddress;
    };

    explicit Impl(Limits limits)
        : limits(limits)
    {
    }

    void accept(Endpoint &endpoint);
    void admit(Endpoint &endpoint, TcpStream stream);
    bool makeRoom(Endpoint &endpoint, const std::string &address,
                  std::vector<std::shared_ptr<SessionBase>> &seen);
    void forget(Endpoint &endpoint, SessionBase *session); // the mutex held
    void gone(Endpoint &endpoint, SessionBase *session);
    void busy(TcpStream stream, bool tls);
    void log(beast::string_view method, beast::string_view path, int status, size_t bodySize, int64_t us)
    {
        if (logger)
            logger(printable(method), printable(path), status, bodySize, us);
    }

    Limits limits;
    Logger logger;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex; // the endpoints' sessions
    std::condition_variable drained;
    size_t open = 0; // sessions on every endpoint
    size_t admittedSinceTrim = 0;
    uint64_t admissions = 0;

    // Declared last, so gone first: the sessions its pending work still holds report to
    // the maps above as they go, and the acceptors go before it.
    net::io_context ioc;
    std::vector<std::unique_ptr<Endpoint>> endpoints;
    std::vector<std::thread> threads;
};

namespace {

using Endpoint = WebServer::Impl::Endpoint;
// Written from where the bytes are: a kept answer is not copied per request.
using Response = http::response<http::span_body<const char>>;

// One connection, plain or over TLS: the same exchange of requests and answers, read and
// written by Beast with the stream's own expiry bounding each wait.
template <bool Tls> class Session : public SessionBase
{
public:
    Session(WebServer::Impl &server, Endpoint &endpoint, TcpStream &&stream)
        : m_server(server)
        , m_endpoint(endpoint)
        , m_tcp(std::move(stream))
        , m_buffer(server.limits.maxHeaderBytes + server.limits.maxBody + FramingRoom)
    {
    }
    ~Session() override { m_server.gone(m_endpoint, this); }

    void start() override
    {
        beast::error_code ignored;
        m_tcp.socket().set_option(tcp::no_delay(true), ignored);
        net::dispatch(m_tcp.get_executor(), [self = shared()] {
            // The first request, a TLS handshake before it included, owes its whole arrival
            // to one bound from the connect.
            self->m_deadline = Clock::now() + self->ms(self->limits().requestMs);
            self->m_tcp.expires_at(self->m_deadline);
            if constexpr (Tls) {
                // No TLS state before the client says a word: a connect alone costs a socket.
                self->m_tcp.async_read_some(self->m_buffer.prepare(FirstRead),
                                            [self](const beast::error_code &ec, size_t n) {
                                                if (ec)
                                                    return self->close();
                                                self->m_buffer.commit(n);
                                                self->handshake();
                                            });
            } else {
                self->awaitRequest();
            }
        });
    }

    void close() override
    {
        net::post(m_tcp.get_executor(), [self = shared()] {
            beast::error_code ignored;
            self->lowest().socket().close(ignored);
        });
    }

private:
    using Stream = std::conditional_t<Tls, TlsStream, TcpStream>;

    struct Answer
    {
        HttpResponse answer;
        Response message;
        bool keepAlive = false;
        std::string method, path; // for the log
        Clock::time_point begun;
        std::string head; // message's, as Beast's serializer wrote it
    };

    std::shared_ptr<Session> shared() { return std::static_pointer_cast<Session>(shared_from_this()); }
    static std::chrono::milliseconds ms(int value) { return std::chrono::milliseconds(value); }
    const WebServer::Limits &limits() const { return m_server.limits; }
    TcpStream &lowest() { return m_stream ? beast::get_lowest_layer(*m_stream) : m_tcp; }
    Stream &stream() { return *m_stream; }

    void handshake()
    {
        if constexpr (Tls) {
            m_stream.emplace(std::move(m_tcp), *m_endpoint.tls);
            m_stream->async_handshake(ssl::stream_base::server, m_buffer.data(),
                                      [self = shared()](const beast::error_code &ec, size_t used) {
                                          if (ec)
                                              return self->closeNow();
                                          self->m_tlsUp = true;
                                          self->m_buffer.consume(used);
                                          self->awaitRequest();
                                      });
        }
    }

    // Before a request: blank lines are dropped (RFC 9112, 2.2), whatever segments they come
    // in. A kept-alive connection waits its idle bound for the first byte of the next request;
    // the request has its own bound from there (the first, from the connect).
    void awaitRequest()
    {
        if (!m_stream) {
            if constexpr (!Tls)
                m_stream.emplace(std::move(m_tcp));
        }
        // Blank lines count as the request's beginning.
        if (m_buffer.size() > 0 && !m_timing) {
            m_timing = true;
            m_deadline = Clock::now() + ms(limits().requestMs);
        }
        for (;;) {
            const auto data = m_buffer.cdata();
            const char *bytes = static_cast<const char *>(data.data());
            if (data.size() >= 2 && bytes[0] == '\r' && bytes[1] == '\n')
                m_buffer.consume(2);
            else if (data.size() >= 1 && bytes[0] == '\n')
                m_buffer.consume(1);
            else
                break;
        }
        const size_t size = m_buffer.size();
        if (size > 1 || (size == 1 && *static_cast<const char *>(m_buffer.cdata().data()) != '\r'))
            return readHead();
        if (!m_timing) {
            if (m_server.stopping)
                return shut();
            setKeptAlive(true);
            lowest().expires_after(ms(limits().idleMs));
        } else {
            lowest().expires_at(m_deadline);
        }
        stream().async_read_some(m_buffer.prepare(FirstRead),
                                 [self = shared()](const beast::error_code &ec, size_t n) {
                                     self->setKeptAlive(false);
                                     if (ec)
                                         return self->stopReading();
                                     self->m_buffer.commit(n);
                                     self->awaitRequest();
                                 });
    }

    void readHead()
    {
        setKeptAlive(false);
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(limits().maxHeaderBytes));
        m_parser->body_limit(limits().maxBody);
        m_parser->eager(true);
        lowest().expires_at(m_deadline);
        parse(false);
    }

    // Gives Beast's parser what has come and reads more while it needs more: the head (then
    // onHead), or the whole request (then onBody). This is http::async_read's own loop without
    // its composed operations, which would cost some 29% of the answers a second under loadbench.
    void parse(bool body)
    {
        beast::error_code ec;
        if (m_buffer.size() > 0) {
            const bool headKnown = m_parser->is_header_done();
            const size_t used = m_parser->put(m_buffer.data(), ec);
            if (ec == http::error::need_more)
                ec = {};
            if (ec)
                return refuse(refusalFor(ec));
            // A field folded over lines (obs-fold) is refused, not unfolded: a front end may
            // read it otherwise (RFC 9112, 5.2).
            if (!headKnown && m_parser->is_header_done() && folded(used))
                return refuse(400);
            m_buffer.consume(used);
            if (body ? m_parser->is_done() : m_parser->is_header_done())
                return body ? onBody() : onHead();
        }
        if (m_buffer.size() >= m_buffer.max_size())
            return refuse(body ? 400 : 431);
        stream().async_read_some(m_buffer.prepare(std::min(ReadChunk, m_buffer.max_size() - m_buffer.size())),
                                 [self = shared(), body](const beast::error_code &ec, size_t n) {
                                     if (ec)
                                         return self->stopReading();
                                     self->m_buffer.commit(n);
                                     self->parse(body);
                                 });
    }

    void onHead()
    {
        m_begun = Clock::now();
        // From here the request is in progress: no cap takes the connection until it is answered.
        if (!begin())
            return shut();
        ++m_inProgress;
        const auto &head = m_parser->get();
        const int version = head.version();
        size_t fields = 0, hosts = 0;
        std::string codings;
        for (const auto &field : head) {
            ++fields;
            if (field.name() == http::field::host)
                ++hosts;
            if (field.name() == http::field::transfer_encoding)
                codings.append(codings.empty() ? "" : ",").append(field.value().data(), field.value().size());
        }
        if (fields > limits().maxHeaderCount)
            return refuse(431);
        if (hosts > 1 || (version == 11 && hosts == 0))
            return refuse(400);
        if (head.find(http::field::transfer_encoding) != head.end()) {
            if (version == 10)
                return refuse(400);
            const int status = transferEncodingStatus(codings);
            if (status == 0 && !m_parser->chunked())
                return refuse(400);
            if (status != 0)
                return refuse(status);
        }
        bool expectContinue = false;
        if (const auto expect = head.find(http::field::expect); expect != head.end() && version == 11) {
            if (!beast::iequals(expect->value(), "100-continue"))
                return refuse(417);
            expectContinue = true;
        }

        m_request = HttpRequest();
        m_request.method = std::string(head.method_string());
        m_request.path = pathOf(head.target());
        m_request.minorVersion = version % 10;
        for (const auto &field : head)
            m_request.headers.emplace_back(lowered(field.name_string()), std::string(field.value()));

        m_route = nullptr;
        m_status = 404;
        for (const WebServer::Route &route : m_endpoint.routes) {
            if (route.path != m_request.path)
                continue;
            m_allow = route.method;
            m_status = 405;
            if (route.method == m_request.method) {
                m_route = &route;
                m_status = 200;
            }
        }
        if (m_route && m_route->headCheck) {
            HttpResponse refusal;
            m_route->headCheck(m_request, refusal);
            if (!refusal.body.empty() || refusal.status != 200)
                return answer(std::move(refusal), false);
        }
        if (m_parser->is_done())
            return onBody();
        // Qt writes a POST's head and body apart without TCP_NODELAY: its body waits for
        // the ACK of the head, which a delayed ACK holds back.
        const int quick = 1;
        ::setsockopt(lowest().socket().native_handle(), IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
        if (!expectContinue)
            return readBody();
        m_interim.emplace(http::status::continue_, 11);
        lowest().expires_after(ms(limits().writeMs));
        http::async_write(stream(), *m_interim, [self = shared()](const beast::error_code &ec, size_t) {
            self->m_interim.reset();
            if (ec)
                return self->shut();
            self->readBody();
        });
    }

    // Whether the head at the front of the buffer (within its first used bytes) folds a field.
    bool folded(size_t used) const
    {
        const beast::string_view bytes(static_cast<const char *>(m_buffer.cdata().data()), used);
        const beast::string_view head = bytes.substr(0, bytes.find("\r\n\r\n"));
        for (size_t at = head.find('\n'); at != beast::string_view::npos; at = head.find('\n', at + 1))
            if (at + 1 < head.size() && (head[at + 1] == ' ' || head[at + 1] == '\t'))
                return true;
        return false;
    }

    void readBody()
    {
        lowest().expires_at(m_deadline);
        parse(true);
    }

    void onBody()
    {
        const bool keepAlive = m_parser->get().keep_alive() && !m_server.stopping;
        m_request.body = std::move(m_parser->get().body());
        HttpResponse response;
        response.status = m_status;
        if (m_route) {
            try {
                m_route->handler(m_request, response);
            } catch (...) {
                response = HttpResponse();
                response.status = 500;
                response.contentType = "text/plain";
                response.body = "internal error\n";
            }
        } else {
            response.contentType = "text/plain";
            response.body = textOf(m_status);
            if (m_status == 405)
                response.headers.emplace_back("Allow", m_allow);
        }
        answer(std::move(response), keepAlive);
    }

    // Refuses the request and ends the connection; 0 ends it without an answer.
    void refuse(int status)
    {
        if (status == 0)
            return stopReading();
        if (!m_parser || !m_parser->is_header_done()) {
            m_begun = Clock::now();
            if (!begin())
                return shut();
            ++m_inProgress;
        }
        HttpResponse refusal;
        refusal.status = status;
        refusal.contentType = "text/plain";
        refusal.body = textOf(status);
        answer(std::move(refusal), false);
    }

    // Nothing more is read: the answers already due are written, then the connection ends.
    void stopReading()
    {
        m_reading = false;
        if (m_queue.empty())
            shut();
    }

    // Queues the answer; the next request is read meanwhile while the queue has room.
    void answer(HttpResponse &&response, bool keepAlive)
    {
        auto item = std::make_unique<Answer>();
        item->answer = std::move(response);
        item->keepAlive = keepAlive;
        item->begun = m_begun;
        if (m_parser && m_parser->is_header_done()) {
            item->method = std::string(m_parser->get().method_string());
            item->path = std::string(m_parser->get().target());
        }
        Response &message = item->message;
        message.result(http::status(item->answer.status));
        message.version(11);
        if (!item->answer.contentType.empty())
            message.set(http::field::content_type, item->answer.contentType);
        for (const auto &field : item->answer.headers)
            message.set(field.first, field.second);
        if (item->answer.sharedOwner)
            message.body() = {item->answer.sharedData, item->answer.sharedSize};
        else
            message.body() = {item->answer.body.data(), item->answer.body.size()};
        message.prepare_payload();
        // An HTTP/1.0 client keeps the connection only when told so.
        if (!keepAlive)
            message.set(http::field::connection, "close");
        else if (m_request.minorVersion == 0)
            message.set(http::field::connection, "keep-alive");
        m_parser.reset();
        m_timing = false;
        m_queue.push_back(std::move(item));
        m_reading = keepAlive;
        if (m_queue.size() == 1)
            write();
        if (m_reading) {
            if (m_queue.size() < AnswerQueue)
                awaitRequest();
            else
                m_paused = true;
        }
    }

    // Each write has its bound; a read waiting meanwhile keeps its own. Beast's serializer
    // writes the head, which goes out with the body in one gather write: http::async_write's
    // buffer sequences would cost some 14% of the answers a second under loadbench (8 connections).
    void write()
    {
        lowest().expires_after(ms(limits().writeMs));
        Answer &answer = *m_queue.front();
        http::serializer<false, http::span_body<const char>> serializer(answer.message);
        serializer.split(true);
        beast::error_code ec;
        serializer.next(ec, [&](beast::error_code &, const auto &buffers) {
            answer.head.resize(net::buffer_size(buffers));
            net::buffer_copy(net::buffer(answer.head), buffers);
            serializer.consume(answer.head.size());
        });
        const std::array<net::const_buffer, 2> out{
            net::buffer(answer.head),
            net::buffer(answer.message.body().data(), answer.message.body().size())};
        net::async_write(stream(), out,
                         [self = shared()](const beast::error_code &ec, size_t) { self->written(ec); });
    }

    void written(const beast::error_code &ec)
    {
        const std::unique_ptr<Answer> done = std::move(m_queue.front());
        m_queue.pop_front();
        m_server.log(
            done->method, done->path, done->answer.status, done->answer.bodySize(),
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - done->begun).count());
        if (--m_inProgress == 0)
            end();
        if (ec)
            return shut();
        if (!done->keepAlive)
            return linger();
        if (!m_queue.empty())
            write();
        else if (!m_reading)
            return shut();
        if (m_paused && m_reading) {
            m_paused = false;
            awaitRequest();
        }
    }

    // After the last answer: what the client still sends is read and dropped, within bounds,
    // so that closing with it unread does not reset the connection before the client reads.
    void linger()
    {
        m_reading = false;
        if constexpr (Tls) {
            shut();
        } else {
            beast::error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            m_buffer.consume(m_buffer.size());
            lowest().expires_after(ms(limits().lingerMs));
            drain();
        }
    }

    void drain()
    {
        lowest().async_read_some(m_buffer.prepare(FirstRead),
                                 [self = shared()](const beast::error_code &ec, size_t n) {
                                     self->m_discarded += n;
                                     if (ec || self->m_discarded > self->limits().lingerBytes)
                                         return self->closeNow();
                                     self->drain();
                                 });
    }

    // Ends the connection: over TLS, says so first and waits a moment for the client's goodbye.
    void shut()
    {
        if (m_shut)
            return;
        m_shut = true;
        if constexpr (Tls) {
            if (m_stream && m_tlsUp) {
                lowest().expires_after(CloseNotifyWait);
                return m_stream->async_shutdown(
                    [self = shared()](const beast::error_code &) { self->closeNow(); });
            }
        }
        closeNow();
    }

    void closeNow()
    {
        beast::error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
    }

    WebServer::Impl &m_server;
    Endpoint &m_endpoint;
    TcpStream m_tcp; // until the stream takes it
    std::optional<Stream> m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::optional<http::response<http::empty_body>> m_interim;
    std::deque<std::unique_ptr<Answer>> m_queue;
    HttpRequest m_request;
    const WebServer::Route *m_route = nullptr;
    std::string m_allow;
    Clock::time_point m_deadline; // of the request being read
    Clock::time_point m_begun;    // its head's arrival
    int m_status = 0;
    int m_inProgress = 0; // requests whose heads arrived and whose answers are not yet written
    size_t m_discarded = 0;
    bool m_reading = true; // the next request is awaited or read
    bool m_paused = false; // ... but not now: the queue of answers is full
    bool m_timing = true;  // the request being awaited has begun: its bound runs
    bool m_shut = false;
    bool m_tlsUp = false;
};

} // namespace

void WebServer::Impl::accept(Endpoint &endpoint)
{
    endpoint.acceptor->async_accept(
        Strand(ioc.get_executor()),
        [this, &endpoint](beast::error_code ec, net::basic_stream_socket<tcp, Strand> socket) {
            if (ec == net::error::operation_aborted || !endpoint.acceptor->is_open())
                return;
            if (!ec) {
                admit(endpoint, TcpStream(std::move(socket)));
                return accept(endpoint);
            }
            // Out of descriptors or memory: try again shortly rather than spin.
            auto pause = std::make_shared<net::steady_timer>(ioc, std::chrono::milliseconds(50));
            pause->async_wait([this, &endpoint, pause](const beast::error_code &) { accept(endpoint); });
        });
}

// Past a cap, a connection that holds no request in progress makes room: idle kept-alive
// ones first, then the oldest whose request has not arrived. Under the mutex; every session
// looked at is kept in seen, so that none is destroyed (which takes the mutex) before it is let go.
bool WebServer::Impl::makeRoom(Endpoint &endpoint, const std::string &address,
                               std::vector<std::shared_ptr<SessionBase>> &seen)
{
    const auto held = endpoint.perAddress.find(address);
    const bool perAddressFull = held != endpoint.perAddress.end() && held->second >= limits.maxPerAddress;
    if (endpoint.sessions.size() < limits.maxConnections && !perAddressFull)
        return true;
    std::vector<std::pair<uint64_t, SessionBase *>> idle, unstarted;
    for (const auto &entry : endpoint.sessions) {
        if (perAddressFull && entry.second.address != address)
            continue;
        auto session = entry.second.session.lock();
        if (!session || session->busy())
            continue;
        (session->keptAlive() ? idle : unstarted).emplace_back(entry.second.order, entry.first);
        seen.push_back(std::move(session));
    }
    for (auto *candidates : {&idle, &unstarted}) {
        std::sort(candidates->begin(), candidates->end());
        for (const auto &candidate : *candidates) {
            if (candidate.second->evict()) {
                forget(endpoint, candidate.second);
                return true;
            }
        }
    }
    return false;
}

void WebServer::Impl::admit(Endpoint &endpoint, TcpStream stream)
{
    beast::error_code ec;
    const std::string address = stream.socket().remote_endpoint(ec).address().to_string();
    if (ec)
        return;
    std::shared_ptr<SessionBase> session;
    std::vector<std::shared_ptr<SessionBase>> seen; // let go after the lock
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (makeRoom(endpoint, address, seen)) {
            if (endpoint.tls)
                session = std::make_shared<Session<true>>(*this, endpoint, std::move(stream));
            else
                session = std::make_shared<Session<false>>(*this, endpoint, std::move(stream));
            endpoint.sessions.emplace(session.get(), Entry{session, address, ++admissions});
            ++endpoint.perAddress[address];
            ++open;
            ++admittedSinceTrim;
        }
    }
    if (session)
        session->start();
    else
        busy(std::move(stream), endpoint.tls != nullptr);
}

// Every connection is busy with a request: the client is told so and let go, rather than
// left in the backlog. Over TLS it is let go in silence: a handshake to say so would cost
// what the cap saves.
void WebServer::Impl::busy(TcpStream stream, bool tls)
{
    log({}, {}, 503, 0, 0);
    if (tls)
        return;
    struct Refusal
    {
        TcpStream stream;
        http::response<http::string_body> message{http::status::service_unavailable, 11};
    };
    auto refusal = std::make_shared<Refusal>(Refusal{std::move(stream)});
    refusal->message.set(http::field::content_type, "text/plain");
    refusal->message.set(http::field::connection, "close");
    refusal->message.body() = textOf(503);
    refusal->message.prepare_payload();
    refusal->stream.expires_after(std::chrono::seconds(1));
    http::async_write(refusal->stream, refusal->message, [refusal](const beast::error_code &, size_t) {
        beast::error_code ignored;
        refusal->stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    });
}

// A session leaves the budget once: when a cap takes it (the mutex held), or when it goes.
void WebServer::Impl::forget(Endpoint &endpoint, SessionBase *session)
{
    const auto found = endpoint.sessions.find(session);
    if (found == endpoint.sessions.end())
        return;
    const auto address = endpoint.perAddress.find(found->second.address);
    if (address != endpoint.perAddress.end() && --address->second == 0)
        endpoint.perAddress.erase(address);
    endpoint.sessions.erase(found);
    --open;
    // A burst of connections leaves the allocator's free lists full: once it has passed,
    // they go back to the system, so memory follows the work and not the connects.
    if (open <= 64 && admittedSinceTrim >= 1024) {
        admittedSinceTrim = 0;
        net::post(ioc, [] { malloc_trim(0); });
    }
    if (open == 0)
        drained.notify_all();
}

void WebServer::Impl::gone(Endpoint &endpoint, SessionBase *session)
{
    std::lock_guard<std::mutex> lock(mutex);
    forget(endpoint, session);
}

WebServer::WebServer(Limits limits)
    : d(new Impl(limits))
{
}

WebServer::~WebServer()
{
    stop(0);
}

int WebServer::listen(const std::string &host, int port, std::vector<Route> routes,
                      const std::string &certFile, const std::string &keyFile, std::string *error)
{
    auto endpoint = std::make_unique<Impl::Endpoint>();
    endpoint->routes = std::move(routes);
    beast::error_code ec;
    if (!certFile.empty()) {
        endpoint->tls = std::make_unique<ssl::context>(ssl::context::tls_server);
        endpoint->tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2
                                       | ssl::context::no_sslv3 | ssl::context::no_tlsv1
                                       | ssl::context::no_tlsv1_1,
                                   ec);
        if (!ec)
            endpoint->tls->use_certificate_chain_file(certFile, ec);
        if (!ec)
            endpoint->tls->use_private_key_file(keyFile, ssl::context::pem, ec);
        if (ec) {
            if (error)
                *error = "cannot load the TLS certificate " + certFile + " or key " + keyFile;
            return -1;
        }
    }
    const net::ip::address address = net::ip::make_address(host, ec);
    if (!ec) {
        endpoint->acceptor = std::make_unique<tcp::acceptor>(d->ioc);
        const tcp::endpoint where(address, static_cast<unsigned short>(port));
        endpoint->acceptor->open(where.protocol(), ec);
        // Connections another program left in TIME_WAIT on the port must not keep it.
        if (!ec)
            endpoint->acceptor->set_option(net::socket_base::reuse_address(true), ec);
        if (!ec)
            endpoint->acceptor->bind(where, ec);
        // The system's whole backlog: clients that connect in a burst must not be reset.
        if (!ec)
            endpoint->acceptor->listen(net::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        if (error)
            *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message();
        return -1;
    }
    const int bound = endpoint->acceptor->local_endpoint().port();
    d->endpoints.push_back(std::move(endpoint));
    return bound;
}

void WebServer::setLogger(Logger logger)
{
    d->logger = std::move(logger);
}

bool WebServer::start(int threads)
{
    // As many connections as descriptors allow, a few kept for the index and the rest,
    // shared by the endpoints.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    const size_t usable = files.rlim_cur > 128 ? files.rlim_cur - 96 : 32;
    d->limits.maxConnections =
        std::min<size_t>(d->limits.maxConnections, usable / std::max<size_t>(1, d->endpoints.size()));
    for (auto &endpoint : d->endpoints)
        d->accept(*endpoint);
    try {
        for (int i = 0; i < std::max(1, threads); ++i)
            d->threads.emplace_back([this] { d->ioc.run(); });
    } catch (const std::system_error &) {
        return !d->threads.empty();
    }
    return true;
}

void WebServer::stop(int graceMs)
{
    if (d->stopping.exchange(true))
        return;
    net::post(d->ioc, [this] {
        for (auto &endpoint : d->endpoints) {
            beast::error_code ignored;
            endpoint->acceptor->close(ignored);
        }
    });
    // Idle connections go now; the others finish the exchange they are in.
    std::vector<std::shared_ptr<SessionBase>> open;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        for (auto &endpoint : d->endpoints)
            for (const auto &entry : endpoint->sessions)
                if (auto session = entry.second.session.lock())
                    open.push_back(std::move(session));
    }
    // Outside the lock: the last hold on a session may go here, and its going takes the lock.
    for (const auto &session : open)
        session->evict();
    open.clear();
    {
        std::unique_lock<std::mutex> lock(d->mutex);
        d->drained.wait_for(lock, std::chrono::milliseconds(graceMs), [this] { return d->open == 0; });
    }
    d->ioc.stop();
    for (std::thread &thread : d->threads)
        thread.join();
    d->threads.clear();
}

size_t WebServer::connectionCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->open;
}
