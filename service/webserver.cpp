// The server's life: listening, accepting, starting and stopping. The rooms beside it:
// httpsession.cpp (one connection's exchange), admission.cpp (caps, and who makes room),
// httprules.cpp (what a request is held to beyond Beast's parser).
#include "httprules.h"
#include "webserver_p.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http.hpp>

#include <openssl/ssl.h>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>

namespace http = beast::http;

namespace {

// TLS 1.2 offers only AEAD suites with forward secrecy, as Mozilla's "intermediate"
// profile has it; TLS 1.3's suites are all of that kind already.
constexpr const char *Tls12Ciphers = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                     "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                     "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

} // namespace

const std::string *HttpRequest::header(const char *name) const
{
    for (const auto &field : headers)
        if (field.first == name)
            return &field.second;
    return nullptr;
}

WebServer::Impl::Impl(Limits limits)
    : limits(limits)
    , admission(this->limits)
{
    contexts.push_back(std::make_unique<net::io_context>(1));
    admission.onBurstPassed = [this] { net::post(*contexts.front(), [] { malloc_trim(0); }); };
}

WebServer::Impl::~Impl()
{
    admission.onBurstPassed = nullptr;
    for (auto &endpoint : endpoints)
        endpoint->acceptor.reset();
    // Their queued work holds the last sessions; they leave their budgets as it goes.
    keepRunning.clear();
    contexts.clear();
    endpoints.clear();
}

void WebServer::Impl::endThreads()
{
    keepRunning.clear();
    for (auto &context : contexts)
        context->stop();
    for (std::thread &thread : threads)
        thread.join();
    threads.clear();
}

void WebServer::Impl::log(beast::string_view method, beast::string_view path, int status, size_t bodySize,
                          int64_t us) const
{
    if (logger)
        logger(HttpRules::printable(method), HttpRules::printable(path), status, bodySize, us);
}

void WebServer::Impl::accept(Endpoint &endpoint)
{
    net::io_context &context = *contexts[1 + nextContext++ % (contexts.size() - 1)];
    endpoint.acceptor->async_accept(
        context.get_executor(),
        [this, &endpoint](beast::error_code ec, net::basic_stream_socket<tcp, Executor> socket) {
            if (ec == net::error::operation_aborted || !endpoint.acceptor->is_open())
                return;
            if (!ec) {
                // Made on the thread that serves it: a connection's memory is never laid
                // between the accepting thread's long-lived bookkeeping (Asio keeps each
                // socket's reactor state for good), so it goes back to the system once freed.
                const Executor where = socket.get_executor();
                net::post(where, [this, &endpoint, socket = std::move(socket)]() mutable {
                    admit(endpoint, TcpStream(std::move(socket)));
                });
                return accept(endpoint);
            }
            // Out of descriptors or memory: try again shortly rather than spin.
            auto pause = std::make_shared<net::steady_timer>(endpoint.acceptor->get_executor(),
                                                             std::chrono::milliseconds(50));
            pause->async_wait([this, &endpoint, pause](const beast::error_code &) {
                if (endpoint.acceptor->is_open())
                    accept(endpoint);
            });
        });
}

void WebServer::Impl::admit(Endpoint &endpoint, TcpStream stream)
{
    beast::error_code ec;
    const std::string address = stream.socket().remote_endpoint(ec).address().to_string();
    if (ec)
        return;
    const auto session = admission.admit(endpoint.budget, address,
                                         [&] { return makeSession(*this, endpoint, std::move(stream)); });
    if (session)
        session->start();
    else
        refuseBusy(std::move(stream), endpoint.tls != nullptr);
}

// Every connection is owed an answer or making progress: the client is told so and let go,
// rather than left in the backlog. Over TLS it is let go in silence: a handshake to say so
// would cost what the cap saves.
void WebServer::Impl::refuseBusy(TcpStream stream, bool tls)
{
    const auto begun = std::chrono::steady_clock::now();
    const auto since = [begun] {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begun)
            .count();
    };
    if (tls)
        return log({}, {}, 503, 0, since());
    struct Refusal
    {
        TcpStream stream;
        http::response<http::string_body> message{http::status::service_unavailable, 11};
    };
    auto refusal = std::make_shared<Refusal>(Refusal{std::move(stream)});
    refusal->message.set(http::field::content_type, "text/plain");
    refusal->message.set(http::field::connection, "close");
    refusal->message.body() = HttpRules::textOf(503);
    refusal->message.prepare_payload();
    refusal->stream.expires_after(std::chrono::seconds(1));
    http::async_write(refusal->stream, refusal->message,
                      [this, refusal, since](const beast::error_code &, size_t) {
                          beast::error_code ignored;
                          refusal->stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
                          log({}, {}, 503, refusal->message.body().size(), since());
                      });
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
        SSL_CTX *const native = endpoint->tls->native_handle();
        // Past what Asio's options type holds on a 32-bit long: set on the context itself.
        SSL_CTX_set_options(native, SSL_OP_NO_RENEGOTIATION);
        // A connection waiting for its client holds no TLS buffers: some 34 KiB each.
        SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);
        if (!ec && SSL_CTX_set_cipher_list(native, Tls12Ciphers) != 1)
            ec = net::error::invalid_argument;
        if (!ec)
            endpoint->tls->use_certificate_chain_file(certFile, ec);
        if (!ec)
            endpoint->tls->use_private_key_file(keyFile, ssl::context::pem, ec);
        if (ec) {
            if (error)
                *error = "cannot load the TLS certificate " + certFile + " or key " + keyFile;
            return -1;
        }
        // A key of another pair loads, and then fails every handshake in silence.
        if (SSL_CTX_check_private_key(native) != 1) {
            if (error)
                *error = "the TLS key " + keyFile + " does not belong to the certificate " + certFile;
            return -1;
        }
    }
    const net::ip::address address = net::ip::make_address(host, ec);
    if (!ec) {
        endpoint->acceptor = std::make_unique<tcp::acceptor>(*d->contexts.front());
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
        net::dispatch(endpoint->acceptor->get_executor(),
                      [this, where = endpoint.get()] { d->accept(*where); });
    while (d->contexts.size() < size_t(std::max(1, threads)) + 1)
        d->contexts.push_back(std::make_unique<net::io_context>(1));
    for (auto &context : d->contexts)
        d->keepRunning.push_back(net::make_work_guard(*context));
    try {
        for (auto &context : d->contexts)
            d->threads.emplace_back([where = context.get()] { where->run(); });
    } catch (const std::system_error &) {
        // Connections handed to a context no thread runs would never be served.
        d->endThreads();
        return false;
    }
    return true;
}

void WebServer::stop(int graceMs)
{
    if (d->stopping.exchange(true))
        return;
    for (auto &endpoint : d->endpoints) {
        net::post(endpoint->acceptor->get_executor(), [where = endpoint.get()] {
            beast::error_code ignored;
            where->acceptor->close(ignored);
        });
    }
    // Connections owed no answer go now; the others finish the exchange they are in.
    std::vector<Admission::Budget *> budgets;
    for (auto &endpoint : d->endpoints)
        budgets.push_back(&endpoint->budget);
    {
        // Outside the lock: the last hold on a session may go here, and its going takes the lock.
        const auto open = d->admission.sessions(budgets);
        for (const auto &session : open)
            session->evict();
    }
    d->admission.waitUntilEmpty(graceMs);
    d->endThreads();
}

size_t WebServer::connectionCount() const
{
    return d->admission.open();
}
