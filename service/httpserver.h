#ifndef HTTPSERVER_H
#define HTTPSERVER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
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
};

// An HTTP/1.1 server for small requests and answers computed at once: one epoll set
// shared by a fixed number of worker threads, every connection non-blocking and handed
// to one worker at a time (EPOLLONESHOT), so an idle kept-alive connection costs a
// descriptor and nothing else. Requests are read whole (bounded by Limits) before a
// handler sees them; answers go out in one write, pipelined ones in order.
class HttpServer
{
public:
    struct Limits
    {
        size_t maxRequestLine = 4096;
        size_t maxHeaderBytes = 8192; // request line and fields together
        size_t maxHeaderCount = 64;
        size_t maxBody = 8192;       // declared or chunked
        int requestTimeoutMs = 5000; // without data in mid-request, or before the first byte
        int idleTimeoutMs = 30000;   // kept alive between requests
        size_t maxConnections = 4096;
    };
    using Handler = std::function<void(const HttpRequest &, HttpResponse &)>;
    // Sees the request before its body is read; filling the answer refuses the request
    // and ends the connection, so a body that will not be taken is not waited for.
    using HeadCheck = std::function<void(const HttpRequest &, HttpResponse &)>;

    explicit HttpServer(Limits limits);
    HttpServer()
        : HttpServer(Limits())
    {
    }
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // One method per path; other methods on it get 405 with Allow, other paths 404.
    void route(const std::string &method, const std::string &path, Handler handler,
               HeadCheck headCheck = HeadCheck());
    // Called after every answer, from the worker that wrote it.
    void setLogger(std::function<void(const HttpRequest &, const HttpResponse &)> logger);

    // The bound port, or -1.
    int bind(const std::string &host, int port);
    bool start(int workers);
    // Stops accepting, closes idle connections, lets the others finish their exchange
    // for up to graceMs, then ends the workers.
    void stop(int graceMs = 10000);

    // Connections open now; for tests and the cap.
    size_t connectionCount() const;

private:
    struct Connection;
    enum class Step {
        NeedData,
        Answered,
        Close
    };

    void work();
    void acceptAll();
    void sweep();
    void serve(Connection *c, uint32_t events);
    void linger(Connection *c);
    Step next(Connection *c);
    Step readBody(Connection *c);
    Step readChunks(Connection *c);
    void answer(Connection *c, HttpRequest &request);
    void refuse(Connection *c, int status, const char *text);
    void queue(Connection *c, const HttpRequest &request, HttpResponse &response, bool keepAlive);
    bool flush(Connection *c);
    void arm(Connection *c, uint32_t events);
    void close(Connection *c);
    void rearmListener();
    // Under m_mutex: whether accepting, paused at the cap, may go on now.
    bool resumeAcceptLocked();

    Limits m_limits;
    struct Route
    {
        std::string method, path;
        Handler handler;
        HeadCheck headCheck;
    };
    std::vector<Route> m_routes;
    std::function<void(const HttpRequest &, const HttpResponse &)> m_logger;

    int m_listener = -1;
    int m_epoll = -1;
    int m_timer = -1;
    int m_wake = -1;
    size_t m_cap = 0;
    std::vector<std::thread> m_workers;

    mutable std::mutex m_mutex; // the connection set and the flags below
    std::condition_variable m_drained;
    std::unordered_set<Connection *> m_connections;
    bool m_acceptPaused = false;
    bool m_stopping = false;
    std::atomic<bool> m_quit{false};
};

#endif
