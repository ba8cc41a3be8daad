#include "webserver.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <boost/asio/steady_timer.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <unordered_map>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
// Each connection's work runs on a strand of its own, named by its concrete type: the
// type-erased executor a plain socket carries costs more than the rest of a read.
using Strand = net::strand<net::io_context::executor_type>;
using Socket = net::basic_stream_socket<tcp, Strand>;

const std::string *HttpRequest::header(const char *name) const
{
    for (const auto &field : headers)
        if (field.first == name)
            return &field.second;
    return nullptr;
}

namespace {

constexpr size_t ReadChunk = 16 * 1024;
// Chunk lines and trailers beside the body: what the buffer may hold unparsed.
constexpr size_t FramingRoom = 16 * 1024;

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

std::string lowered(beast::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
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

} // namespace

using Clock = std::chrono::steady_clock;

inline int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

class SessionBase : public std::enable_shared_from_this<SessionBase>
{
public:
    virtual ~SessionBase() = default;
    virtual void start() = 0;
    // Ends the session if it waits for a request; one in the middle of one goes on.
    virtual void stopIfIdle() = 0;
    // Ends what the session waits for if its time is up (called by the sweep, any thread).
    void expireIfDue(int64_t now)
    {
        int64_t due = m_dueMs.load(std::memory_order_relaxed);
        if (due != 0 && due <= now && m_dueMs.compare_exchange_strong(due, 0))
            expire();
    }

protected:
    // The time what the session waits for must come by; 0: none. One bound at a time,
    // checked by one sweep for all sessions: timers armed and cancelled on every read and
    // write would cost more than the rest of an exchange.
    void dueIn(int ms) { m_dueMs.store(nowMs() + ms, std::memory_order_relaxed); }
    void dueAt(int64_t ms) { m_dueMs.store(ms, std::memory_order_relaxed); }
    virtual void expire() = 0;

private:
    std::atomic<int64_t> m_dueMs{0};
};

struct WebServer::Impl
{
    struct Endpoint
    {
        std::vector<Route> routes;
        std::unique_ptr<ssl::context> tls;
        std::unique_ptr<tcp::acceptor> acceptor;
    };

    explicit Impl(Limits limits)
        : limits(limits)
    {
    }

    void accept(Endpoint &endpoint);
    void sweep();
    void admitted(Endpoint &endpoint, Socket socket);
    void busy(Socket socket, bool tls);
    void released(SessionBase *session, const std::string &address);
    void log(beast::string_view method, beast::string_view path, int status, size_t bodySize)
    {
        if (logger)
            logger(printable(method), printable(path), status, bodySize);
    }

    Limits limits;
    Logger logger;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex; // the two maps
    std::condition_variable drained;
    std::unordered_map<SessionBase *, std::weak_ptr<SessionBase>> sessions;
    std::unordered_map<std::string, size_t> perAddress;

    // Declared last, so gone first: the sessions its pending work still holds report to
    // the maps above as they go, and the acceptors go before it.
    net::io_context ioc;
    std::unique_ptr<net::steady_timer> sweeper;
    std::vector<std::unique_ptr<Endpoint>> endpoints;
    std::vector<std::thread> threads;
};

namespace {

using Endpoint = WebServer::Impl::Endpoint;
using PlainStream = Socket;
using TlsStream = ssl::stream<Socket>;
// Written from where the bytes are: a kept answer is not copied per request.
using Response = http::response<http::span_body<const char>>;

template <class Stream> Stream makeStream(Socket &&socket, Endpoint &endpoint)
{
    if constexpr (std::is_same_v<Stream, PlainStream>)
        return Stream(std::move(socket));
    else
        return Stream(std::move(socket), *endpoint.tls);
}

// One connection, plain or over TLS: the same exchange of requests and answers.
template <class Stream> class Session : public SessionBase
{
public:
    static constexpr bool Tls = !std::is_same_v<Stream, PlainStream>;

    Session(WebServer::Impl &server, Endpoint &endpoint, Socket &&socket, std::string address)
        : m_server(server)
        , m_endpoint(endpoint)
        , m_stream(makeStream<Stream>(std::move(socket), endpoint))
        , m_address(std::move(address))
        , m_buffer(server.limits.maxHeaderBytes + server.limits.maxBody + FramingRoom)
    {
    }
    ~Session() override { m_server.released(this, m_address); }

    void start() override
    {
        beast::error_code ignored;
        socket().set_option(tcp::no_delay(true), ignored);
        // Dispatched onto the session's strand, where all its work runs.
        net::dispatch(m_stream.get_executor(), [self = shared()] {
            if constexpr (Tls) {
                self->dueIn(self->limits().requestMs);
                self->m_stream.async_handshake(ssl::stream_base::server, [self](const beast::error_code &ec) {
                    if (ec)
                        return self->close();
                    self->awaitRequest(true);
                });
            } else {
                self->awaitRequest(true);
            }
        });
    }

    void stopIfIdle() override
    {
        net::post(m_stream.get_executor(), [self = shared()] {
            if (self->m_idle)
                self->cancel();
        });
    }

private:
    void expire() override
    {
        net::post(m_stream.get_executor(), [self = shared()] { self->cancel(); });
    }

    std::shared_ptr<Session> shared() { return std::static_pointer_cast<Session>(shared_from_this()); }
    Socket &socket() { return beast::get_lowest_layer(m_stream); }
    void cancel()
    {
        beast::error_code ignored;
        socket().cancel(ignored);
    }
    const WebServer::Limits &limits() const { return m_server.limits; }

    // Blank lines before a request are allowed; they count toward its time.
    void dropBlankLines()
    {
        for (;;) {
            const auto data = m_buffer.cdata();
            const char *bytes = static_cast<const char *>(data.data());
            if (data.size() >= 2 && bytes[0] == '\r' && bytes[1] == '\n')
                m_buffer.consume(2);
            else
                return;
        }
    }

    void awaitRequest(bool fresh)
    {
        dropBlankLines();
        if (m_buffer.size() > 0) {
            m_deadline = nowMs() + limits().requestMs;
            return readHead();
        }
        if (m_server.stopping)
            return close();
        // A new connection owes its first request within the request bound; a kept-alive
        // one may wait longer for its next.
        m_idle = true;
        dueIn(fresh ? limits().requestMs : limits().idleMs);
        m_stream.async_read_some(m_buffer.prepare(ReadChunk),
                                 [self = shared()](const beast::error_code &ec, size_t n) {
                                     self->m_idle = false;
                                     if (ec)
                                         return self->close();
                                     self->m_buffer.commit(n);
                                     self->m_deadline = nowMs() + self->limits().requestMs;
                                     self->moreOfHead();
                                 });
    }

    // The request has begun: blank lines, or the first bytes of its head.
    void moreOfHead()
    {
        dropBlankLines();
        if (m_buffer.size() > 0)
            return readHead();
        dueAt(m_deadline);
        m_stream.async_read_some(m_buffer.prepare(ReadChunk),
                                 [self = shared()](const beast::error_code &ec, size_t n) {
                                     if (ec)
                                         return self->close();
                                     self->m_buffer.commit(n);
                                     self->moreOfHead();
                                 });
    }

    void readHead()
    {
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(limits().maxHeaderBytes));
        m_parser->body_limit(limits().maxBody);
        m_parser->eager(true);
        parse(false);
    }

    // Gives Beast's parser what has come, and reads more within the request's time while it
    // needs more: the head (then onHead), or the whole request (then onBody). Beast's own
    // composed reads do the same at several times the cost per request.
    void parse(bool body)
    {
        beast::error_code ec;
        if (m_buffer.size() > 0) {
            m_buffer.consume(m_parser->put(m_buffer.data(), ec));
            if (ec == http::error::need_more)
                ec = {};
            if (ec)
                return refuse(refusalFor(ec));
            if (body ? m_parser->is_done() : m_parser->is_header_done())
                return body ? onBody() : onHead();
        }
        if (m_buffer.size() >= m_buffer.max_size())
            return refuse(body ? 400 : 431);
        dueAt(m_deadline);
        m_stream.async_read_some(m_buffer.prepare(std::min(ReadChunk, m_buffer.max_size() - m_buffer.size())),
                                 [self = shared(), body](const beast::error_code &ec, size_t n) {
                                     if (ec)
                                         return self->close();
                                     self->m_buffer.commit(n);
                                     self->parse(body);
                                 });
    }

    void onHead()
    {
        const auto &head = m_parser->get();
        const int version = head.version();
        size_t fields = 0, hosts = 0;
        std::vector<std::string> codings;
        for (const auto &field : head) {
            ++fields;
            if (field.name() == http::field::host)
                ++hosts;
            if (field.name() == http::field::transfer_encoding)
                for (const auto coding : http::token_list(field.value()))
                    codings.push_back(lowered(coding));
        }
        if (fields > limits().maxHeaderCount)
            return refuse(431);
        if (hosts > 1 || (version == 11 && hosts == 0))
            return refuse(400);
        // Every Transfer-Encoding field is one list, which must be exactly "chunked".
        if (!codings.empty()) {
            if (version == 10)
                return refuse(400);
            if (std::any_of(codings.begin(), codings.end(),
                            [](const std::string &c) { return c != "chunked"; }))
                return refuse(501);
            if (codings.size() != 1 || !m_parser->chunked())
                return refuse(400);
        }
        bool expectContinue = false;
        if (const auto expect = head.find(http::field::expect); expect != head.end() && version == 11) {
            if (!beast::iequals(expect->value(), "100-continue"))
                return refuse(417);
            expectContinue = true;
        }

        m_request = HttpRequest();
        m_request.method = std::string(head.method_string());
        const beast::string_view target = head.target();
        m_request.path = std::string(target.substr(0, target.find('?')));
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
                return send(refusal, false);
        }

        if (m_parser->is_done())
            return onBody();
        // Qt writes a POST's head and body apart without TCP_NODELAY: its body waits for
        // the ACK of the head, which a delayed ACK holds back.
        const int quick = 1;
        ::setsockopt(socket().native_handle(), IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
        if (!expectContinue)
            return readBody();
        m_interim = "HTTP/1.1 100 Continue\r\n\r\n";
        dueIn(limits().writeMs);
        net::async_write(m_stream, net::buffer(m_interim),
                         [self = shared()](const beast::error_code &ec, size_t) {
                             if (ec)
                                 return self->close();
                             self->readBody();
                         });
    }

    void readBody() { parse(true); }

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
        send(response, keepAlive);
    }

    // Refuses the request and ends the connection; 0 ends it without an answer.
    void refuse(int status)
    {
        if (status == 0)
            return close();
        HttpResponse refusal;
        refusal.status = status;
        refusal.contentType = "text/plain";
        refusal.body = textOf(status);
        send(refusal, false);
    }

    void send(HttpResponse &answer, bool keepAlive)
    {
        m_keepAlive = keepAlive;
        m_answer = std::move(answer);
        m_response.emplace(http::status(m_answer.status), 11);
        if (!m_answer.contentType.empty())
            m_response->set(http::field::content_type, m_answer.contentType);
        for (const auto &field : m_answer.headers)
            m_response->set(field.first, field.second);
        if (m_answer.sharedOwner)
            m_response->body() = {m_answer.sharedData, m_answer.sharedSize};
        else
            m_response->body() = {m_answer.body.data(), m_answer.body.size()};
        m_response->prepare_payload();
        // An HTTP/1.0 client keeps the connection only when told so.
        if (!keepAlive)
            m_response->set(http::field::connection, "close");
        else if (m_request.minorVersion == 0)
            m_response->set(http::field::connection, "keep-alive");
        m_server.log(m_parser ? m_parser->get().method_string() : beast::string_view(),
                     m_parser ? m_parser->get().target() : beast::string_view(), m_answer.status,
                     m_answer.bodySize());
        // Beast writes the head; it goes out with the body in one gather write.
        http::serializer<false, http::span_body<const char>> serializer(*m_response);
        serializer.split(true);
        beast::error_code ec;
        serializer.next(ec, [this, &serializer](beast::error_code &, const auto &buffers) {
            m_head.resize(net::buffer_size(buffers));
            net::buffer_copy(net::buffer(m_head), buffers);
            serializer.consume(m_head.size());
        });
        const std::array<net::const_buffer, 2> out{
            net::buffer(m_head), net::buffer(m_response->body().data(), m_response->body().size())};
        dueIn(limits().writeMs);
        net::async_write(m_stream, out, [self = shared()](const beast::error_code &ec, size_t) {
            self->m_response.reset();
            self->m_answer = HttpResponse();
            if (ec)
                return self->close();
            // What the client still sends is read and dropped for a while: closing with it
            // unread would reset the connection, and the client might lose the answer.
            if (!self->m_keepAlive)
                return self->linger();
            self->m_parser.reset();
            self->awaitRequest(false);
        });
    }

    // After the last answer: what the client still sends is read and dropped, within bounds.
    void linger()
    {
        if constexpr (Tls) {
            return finish();
        } else {
            beast::error_code ignored;
            socket().shutdown(tcp::socket::shutdown_send, ignored);
            m_buffer.consume(m_buffer.size());
            dueIn(limits().lingerMs);
            drain();
        }
    }

    void drain()
    {
        m_stream.async_read_some(m_buffer.prepare(ReadChunk),
                                 [self = shared()](const beast::error_code &ec, size_t n) {
                                     self->m_discarded += n;
                                     if (ec || self->m_discarded > self->limits().lingerBytes)
                                         return self->close();
                                     self->drain();
                                 });
    }

    // Ends the connection after a last answer: TLS says so first.
    void finish()
    {
        if constexpr (Tls) {
            dueIn(limits().writeMs);
            m_stream.async_shutdown([self = shared()](const beast::error_code &) { self->close(); });
        } else {
            beast::error_code ignored;
            socket().shutdown(tcp::socket::shutdown_send, ignored);
            close();
        }
    }

    void close()
    {
        dueAt(0);
        beast::error_code ignored;
        socket().close(ignored);
    }

    WebServer::Impl &m_server;
    Endpoint &m_endpoint;
    Stream m_stream;
    std::string m_address;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::optional<Response> m_response;
    HttpResponse m_answer; // what m_response is written from
    std::string m_head;    // m_response's head, as Beast wrote it
    HttpRequest m_request;
    const WebServer::Route *m_route = nullptr;
    std::string m_allow;
    std::string m_interim;
    int64_t m_deadline = 0; // of the request being read
    int m_status = 0;
    size_t m_discarded = 0;
    bool m_idle = false;
    bool m_keepAlive = false;
};

} // namespace

void WebServer::Impl::accept(Endpoint &endpoint)
{
    endpoint.acceptor->async_accept(
        Strand(ioc.get_executor()), [this, &endpoint](beast::error_code ec, Socket socket) {
            if (ec == net::error::operation_aborted || !endpoint.acceptor->is_open())
                return;
            if (!ec) {
                admitted(endpoint, std::move(socket));
                return accept(endpoint);
            }
            // Out of descriptors or memory: try again shortly rather than spin.
            auto pause = std::make_shared<net::steady_timer>(ioc, std::chrono::milliseconds(50));
            pause->async_wait([this, &endpoint, pause](const beast::error_code &) { accept(endpoint); });
        });
}

void WebServer::Impl::sweep()
{
    sweeper->expires_after(std::chrono::milliseconds(100));
    sweeper->async_wait([this](const beast::error_code &ec) {
        if (ec)
            return;
        std::vector<std::shared_ptr<SessionBase>> open;
        {
            std::lock_guard<std::mutex> lock(mutex);
            open.reserve(sessions.size());
            for (const auto &entry : sessions)
                if (auto session = entry.second.lock())
                    open.push_back(std::move(session));
        }
        const int64_t now = nowMs();
        for (const auto &session : open)
            session->expireIfDue(now);
        // The last hold on a session may go here; its going takes the lock, not held now.
        open.clear();
        sweep();
    });
}

void WebServer::Impl::admitted(Endpoint &endpoint, Socket socket)
{
    beast::error_code ec;
    const std::string address = socket.remote_endpoint(ec).address().to_string();
    if (ec)
        return;
    std::shared_ptr<SessionBase> session;
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t &mine = perAddress[address];
        if (sessions.size() >= limits.maxConnections || mine >= limits.maxPerAddress) {
            if (mine == 0)
                perAddress.erase(address);
            session = nullptr;
        } else {
            ++mine;
            if (endpoint.tls)
                session = std::make_shared<Session<TlsStream>>(*this, endpoint, std::move(socket), address);
            else
                session = std::make_shared<Session<PlainStream>>(*this, endpoint, std::move(socket), address);
            sessions.emplace(session.get(), session);
        }
    }
    if (session)
        session->start();
    else
        busy(std::move(socket), endpoint.tls != nullptr);
}

// Past a cap a client is told so at once and let go, rather than left in the backlog.
void WebServer::Impl::busy(Socket socket, bool tls)
{
    log({}, {}, 503, 0);
    if (tls)
        return; // a handshake to say it would cost what the cap saves
    static const std::string answer = std::string("HTTP/1.1 503 Service Unavailable\r\n"
                                                  "Content-Type: text/plain\r\nContent-Length: ")
                                      + std::to_string(std::strlen(textOf(503)))
                                      + "\r\nConnection: close\r\n\r\n" + textOf(503);
    auto stream = std::make_shared<Socket>(std::move(socket));
    // Written at once or never: a full send buffer is no reason to wait.
    beast::error_code ignored;
    stream->non_blocking(true, ignored);
    stream->write_some(net::buffer(answer), ignored);
    stream->shutdown(tcp::socket::shutdown_both, ignored);
    stream->close(ignored);
}

void WebServer::Impl::released(SessionBase *session, const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex);
    sessions.erase(session);
    const auto it = perAddress.find(address);
    if (it != perAddress.end() && --it->second == 0)
        perAddress.erase(it);
    if (sessions.empty())
        drained.notify_all();
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
    // As many connections as descriptors allow, a few kept for the index and the rest.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    d->limits.maxConnections =
        std::min<size_t>(d->limits.maxConnections, files.rlim_cur > 128 ? files.rlim_cur - 96 : 32);
    for (auto &endpoint : d->endpoints)
        d->accept(*endpoint);
    d->sweeper = std::make_unique<net::steady_timer>(d->ioc);
    d->sweep();
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
    // The sweep goes on: a session finishing its exchange still keeps its bounds.
    std::vector<std::weak_ptr<SessionBase>> open;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        for (const auto &entry : d->sessions)
            open.push_back(entry.second);
    }
    // Outside the lock: the last hold on a session may go here, and its going takes the lock.
    for (const auto &weak : open)
        if (const auto session = weak.lock())
            session->stopIfIdle();
    {
        std::unique_lock<std::mutex> lock(d->mutex);
        d->drained.wait_for(lock, std::chrono::milliseconds(graceMs), [this] { return d->sessions.empty(); });
    }
    d->ioc.stop();
    for (std::thread &thread : d->threads)
        thread.join();
    d->threads.clear();
}

size_t WebServer::connectionCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->sessions.size();
}
