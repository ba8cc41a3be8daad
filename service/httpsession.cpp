#include "httpanswer.h"
#include "httprules.h"
#include "webserver_p.h"

#include <boost/beast/http.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <optional>
#include <deque>

namespace http = beast::http;
using Clock = std::chrono::steady_clock;

namespace {

// One connection, plain or over TLS, read by Beast's parser, with the stream's own expiry
// bounding each wait. Everything it writes (a 100 Continue, answers, refusals, the TLS
// goodbye) goes through m_queue, one write at a time, in the order of the requests.
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
    ~Session() override { m_server.admission.leave(m_endpoint.budget, this); }

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
                                                    return self->closeNow();
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

    std::shared_ptr<Session> shared() { return std::static_pointer_cast<Session>(shared_from_this()); }
    static std::chrono::milliseconds ms(int value) { return std::chrono::milliseconds(value); }
    const WebServer::Limits &limits() const { return m_server.limits; }
    TcpStream &lowest() { return m_stream ? beast::get_lowest_layer(*m_stream) : m_tcp; }
    Stream &stream() { return *m_stream; }
    beast::string_view bytes() const
    {
        return {static_cast<const char *>(m_buffer.cdata().data()), m_buffer.size()};
    }

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
        if (m_buffer.size() > 0 && !m_underWay) {
            m_underWay = true;
            requestBegins();
        }
        m_buffer.consume(HttpRules::blankLines(bytes()));
        if (HttpRules::requestStarts(bytes()))
            return readHead();
        if (!m_timing) {
            if (m_server.stopping)
                return stopReading();
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
                                     self->progress(n);
                                     self->awaitRequest();
                                 });
    }

    void readHead()
    {
        setKeptAlive(false);
        m_begun = Clock::now();
        m_owed = false;
        HttpRules::prepare(m_parser.emplace(), limits());
        m_headTail = '\0';
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
                return refuse(HttpRules::refusalFor(ec));
            // A field folded over lines (obs-fold) is refused, not unfolded: a front end may
            // read it otherwise (RFC 9112, 5.2). Beast takes a head's lines as they come.
            if (!headKnown && used > 0) {
                if (HttpRules::folds(m_headTail, bytes().substr(0, used)))
                    return refuse(400);
                m_headTail = bytes()[used - 1];
            }
            m_buffer.consume(used);
            if (body ? m_parser->is_done() : m_parser->is_header_done())
                return body ? onBody() : onHead();
        }
        if (m_buffer.size() >= m_buffer.max_size())
            return refuse(body ? 400 : 431);
        // Qt writes a POST's head and body apart without TCP_NODELAY: its body waits for
        // the ACK of the head, which a delayed ACK holds back.
        const int quick = 1;
        if (body)
            ::setsockopt(lowest().socket().native_handle(), IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
        stream().async_read_some(m_buffer.prepare(std::min(ReadChunk, m_buffer.max_size() - m_buffer.size())),
                                 [self = shared(), body](const beast::error_code &ec, size_t n) {
                                     if (ec)
                                         return self->stopReading();
                                     self->m_buffer.commit(n);
                                     self->progress(n);
                                     self->parse(body);
                                 });
    }

    void onHead()
    {
        m_parser->eager(true); // the body, whatever segments it comes in
        const auto &head = m_parser->get();
        const HttpRules::HeadVerdict verdict =
            HttpRules::checkHead(head, m_parser->chunked(), limits().maxHeaderCount);
        if (verdict.status != 0)
            return refuse(verdict.status);

        m_request = HttpRules::requestOf(head);
        m_route = HttpRules::routeFor(m_endpoint.routes, m_request, &m_status, &m_allow);
        if (m_route && m_route->headCheck) {
            HttpResponse refusal;
            m_route->headCheck(m_request, refusal);
            if (!refusal.body.empty() || refusal.status != 200)
                return answer(std::move(refusal), false);
        }
        if (m_parser->is_done())
            return onBody();
        if (!verdict.expectContinue)
            return readBody();
        // The body is read once the interim answer is out, and that only after the answers
        // before it: one writer per connection.
        m_queue.push_back(QueuedAnswer::interim());
        if (m_queue.size() == 1)
            write();
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
        if (!m_route)
            return answer(HttpRules::plainAnswer(m_status, m_allow), keepAlive);
        HttpResponse response;
        try {
            m_route->handler(m_request, response);
        } catch (...) {
            response = HttpRules::plainAnswer(500);
        }
        answer(std::move(response), keepAlive);
    }

    // Refuses the request and ends the connection; 0 ends it without an answer.
    void refuse(int status)
    {
        if (status == 0)
            return stopReading();
        answer(HttpRules::plainAnswer(status), false);
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
        requestEnds();
        m_underWay = false;
        if (!m_owed) {
            // A cap took the connection while the request arrived: it is not answered.
            if (!owe())
                return stopReading();
            m_owed = true;
            ++m_owing;
        }
        const bool headRead = m_parser && m_parser->is_header_done();
        auto item = QueuedAnswer::make(std::move(response), keepAlive, headRead ? &m_parser->get() : nullptr,
                                       m_begun);
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

    // Each write has its bound; a read waiting meanwhile keeps its own.
    void write()
    {
        lowest().expires_after(ms(limits().writeMs));
        net::async_write(stream(), m_queue.front()->buffers(),
                         [self = shared()](const beast::error_code &ec, size_t) { self->written(ec); });
    }

    void written(const beast::error_code &ec)
    {
        const std::unique_ptr<QueuedAnswer> done = std::move(m_queue.front());
        m_queue.pop_front();
        if (done->interimAnswer) { // nothing is queued behind it: its body is not read yet
            if (ec)
                return closeNow();
            return readBody();
        }
        m_server.log(
            done->method, done->path, done->answer.status, done->answer.bodySize(),
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - done->begun).count());
        if (--m_owing == 0)
            paid();
        if (ec) // nothing left to say goodbye on
            return closeNow();
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

    // Ends the connection once nothing is being written: over TLS, says so first and waits
    // a moment for the client's goodbye.
    void shut()
    {
        if (m_shut || !m_queue.empty())
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
    char m_headTail = '\0'; // the last byte of the head the parser has taken so far
    std::deque<std::unique_ptr<QueuedAnswer>> m_queue;
    HttpRequest m_request;
    const WebServer::Route *m_route = nullptr;
    std::string m_allow;
    Clock::time_point m_deadline; // of the request being read
    Clock::time_point m_begun;    // its head's first byte
    int m_status = 0;
    int m_owing = 0; // requests answered or refused whose answers are not yet written
    size_t m_discarded = 0;
    bool m_reading = true;   // the next request is awaited or read
    bool m_paused = false;   // ... but not now: the queue of answers is full
    bool m_timing = true;    // the request being awaited has begun: its bound runs
    bool m_underWay = false; // a byte of the request has come: its progress is measured
    bool m_owed = false;     // the request being read already counts in m_owing
    bool m_shut = false;
    bool m_tlsUp = false;
};

} // namespace

std::shared_ptr<SessionBase> makeSession(WebServer::Impl &server, Endpoint &endpoint, TcpStream &&stream)
{
    if (endpoint.tls)
        return std::make_shared<Session<true>>(server, endpoint, std::move(stream));
    return std::make_shared<Session<false>>(server, endpoint, std::move(stream));
}
