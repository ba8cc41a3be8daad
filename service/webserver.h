#ifndef WEBSERVER_H
#define WEBSERVER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct HttpRequest
{
    std::string method;
    std::string path; // the target without its query
    int minorVersion = 1;
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::string body;

    // The first field of that (lower-case) name, or null.
    const std::string *header(const char *name) const;
};

struct HttpResponse
{
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Instead of body: bytes that live elsewhere, written from where they are; owner keeps
    // them alive until they are sent.
    std::shared_ptr<const void> sharedOwner;
    const char *sharedData = nullptr;
    size_t sharedSize = 0;

    size_t bodySize() const { return sharedOwner ? sharedSize : body.size(); }
};

// HTTP/1.1 and HTTPS on Boost.Beast over Asio: an io_context that accepts, and one per
// serving thread; every connection is a session on one of them for its whole life, so an
// idle or slow one costs a socket and a small buffer, never a thread (and no TLS state
// before its first byte). Requests are
// read whole, within bounds of size, time and rate, before a handler sees them; everything
// a connection is sent goes out in request order through one queue, a few answers queued
// while the next request is read.
class WebServer
{
public:
    struct Limits
    {
        size_t maxHeaderBytes = 8192; // request line and fields together
        size_t maxHeaderCount = 64;
        size_t maxBody = 8192; // declared or chunked
        // A request, head and body, must arrive whole within this from its first byte
        // (blank lines before it included), whatever trickles in.
        int requestMs = 10000;
        // Progress, not presence, holds a place: a request under way that has had no byte
        // for stallMs, or less than minRate bytes a second from then on, has stalled, and
        // makes room for a newcomer as an idle connection does (Apache's mod_reqtimeout).
        int stallMs = 1000;
        size_t minRate = 500;
        int writeMs = 10000; // to write one answer
        int idleMs = 30000;  // kept alive between requests
        // Per endpoint. Past either, a connection is closed to make room: an idle kept-alive
        // one first, then one with no request or a stalled one; only when every one is owed
        // an answer or making progress is a client refused.
        size_t maxConnections = 4096;
        size_t maxPerAddress = 512;
        // After a refusal the rest of the request is read and dropped, this much for this
        // long, so the client reads the refusal instead of a reset (and does not send it
        // all again).
        size_t lingerBytes = 64 * 1024 * 1024;
        int lingerMs = 10000;
    };
    using Handler = std::function<void(const HttpRequest &, HttpResponse &)>;
    // Sees the request before its body is read; filling the answer refuses the request
    // and ends the connection, so a body that will not be taken is not waited for.
    using HeadCheck = std::function<void(const HttpRequest &, HttpResponse &)>;
    // One method per path; other methods on it get 405 with Allow, other paths 404.
    struct Route
    {
        std::string method, path;
        Handler handler;
        HeadCheck headCheck;
    };
    // After each answer: its request's method and path, status, body size, and the
    // microseconds from the request's first byte to the answer's last byte.
    using Logger = std::function<void(const std::string &method, const std::string &path, int status,
                                      size_t bodySize, int64_t durationUs)>;

    explicit WebServer(Limits limits);
    WebServer()
        : WebServer(Limits())
    {
    }
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Listens on host:port (0: a free port) with these routes, over TLS when a certificate
    // chain and key (PEM files) are given. The bound port, or -1 with the reason in error.
    int listen(const std::string &host, int port, std::vector<Route> routes, const std::string &certFile = {},
               const std::string &keyFile = {}, std::string *error = nullptr);
    // Called after every answer, from the thread that wrote it; method and path have
    // every byte that is not printable ASCII escaped, "-" where none was read.
    void setLogger(Logger logger);

    // Serves with this many threads, and one more that accepts.
    bool start(int threads);
    // Stops accepting, closes connections owed no answer, lets the others
    // finish theirs for up to graceMs, then ends the threads.
    void stop(int graceMs = 10000);

    // Connections open now.
    size_t connectionCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

#endif
