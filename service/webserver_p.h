#ifndef WEBSERVER_P_H
#define WEBSERVER_P_H

// What the rooms of the HTTP server share: the stream types, an endpoint, and the server
// itself as its sessions see it. Not for use outside service/webserver*, httpsession*,
// admission* and httprules*.

#include "admission.h"
#include "webserver.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace beast = boost::beast;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
// One io_context per thread, and each connection on one of them for its whole life: its
// work never changes threads, so it needs no strand and nothing is handed between threads
// (the tail of the latency under load). Named by its concrete type: the type-erased
// executor of beast::tcp_stream costs more than the rest of a read.
using Executor = net::io_context::executor_type;
using TcpStream = beast::basic_stream<tcp, Executor>;
using TlsStream = beast::ssl_stream<TcpStream>;

// Bounds of a session too small to be worth a limit of their own. Answers written but not yet taken, per
// connection: a pipelining client that does not read stops being read from.
inline constexpr size_t AnswerQueue = 8;
// Chunk lines and trailers beside the body: what the buffer may hold unparsed.
inline constexpr size_t FramingRoom = 16 * 1024;
// What a connection reads before a request has begun (a TLS ClientHello, blank lines or the
// start of a head), and at a time once it has.
inline constexpr size_t FirstRead = 1024;
inline constexpr size_t ReadChunk = 4 * 1024;
// A refused TLS client may say goodbye; it is not waited for long.
inline constexpr auto CloseNotifyWait = std::chrono::seconds(1);

struct WebServer::Impl
{
    struct Endpoint
    {
        std::vector<Route> routes;
        std::unique_ptr<ssl::context> tls;
        // On the first context, which one thread runs: accepting and closing never meet.
        std::unique_ptr<tcp::acceptor> acceptor;
        Admission::Budget budget; // each endpoint its own
    };

    explicit Impl(Limits limits);
    // The io_contexts go before the endpoints: their queued work holds sessions, which
    // report to their endpoint's budget as they go.
    ~Impl();

    void accept(Endpoint &endpoint);
    void admit(Endpoint &endpoint, TcpStream stream);
    void refuseBusy(TcpStream stream, bool tls);
    // Every context stopped and its thread joined.
    void endThreads();
    void log(beast::string_view method, beast::string_view path, int status, size_t bodySize,
             int64_t us) const;

    Limits limits;
    Logger logger;
    std::atomic<bool> stopping{false};
    Admission admission;
    // The first accepts for every endpoint, and hands each connection to one of the others
    // in turn, each run by a thread of its own.
    std::vector<std::unique_ptr<net::io_context>> contexts;
    std::vector<net::executor_work_guard<Executor>> keepRunning;
    size_t nextContext = 0; // on the first context's thread
    std::vector<std::unique_ptr<Endpoint>> endpoints;
    std::vector<std::thread> threads;
};

using Endpoint = WebServer::Impl::Endpoint;

// A session for a connection the endpoint has admitted, plain or over TLS as it serves.
std::shared_ptr<SessionBase> makeSession(WebServer::Impl &server, Endpoint &endpoint, TcpStream &&stream);

#endif
