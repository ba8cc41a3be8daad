// The service's HTTP sessions (service/webserver.*) in process, over loopback: arbitrary
// bytes, pipelined requests among them, written in pieces split at arbitrary points, then
// the end of the stream. Whatever comes back must be well-formed HTTP/1.1 answers, one
// after another, nothing after one that closes; nothing may crash, hang or leak.
//
// Input: the first byte gives the number of split points (0 to 7), the next bytes their
// places (each scaled into the rest); the rest is what the client writes.
#include "fuzzcheck.h"
#include "webserver.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace http = boost::beast::http;

namespace {

int g_port = 0;

void startServer()
{
    WebServer::Limits limits;
    // The stream always ends, so no bound is waited out; a hang would still show.
    limits.requestMs = 5000;
    limits.lingerMs = 2000;
    static WebServer server(limits);
    std::vector<WebServer::Route> routes{{"POST", "/search",
                                          [](const HttpRequest &req, HttpResponse &res) {
                                              res.contentType = "application/octet-stream";
                                              res.body = req.body;
                                          },
                                          [](const HttpRequest &head, HttpResponse &refusal) {
                                              const std::string *type = head.header("content-type");
                                              if (type && type->find("multipart/") != std::string::npos)
                                                  refusal.status = 415;
                                          }}};
    g_port = server.listen("127.0.0.1", 0, routes);
    FUZZ_CHECK(g_port > 0);
    FUZZ_CHECK(server.start(2));
}

int connectToServer()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    FUZZ_CHECK(fd >= 0);
    // Each closed connection leaves its pair of addresses in TIME_WAIT for a minute:
    // thousands of inputs a second would use up one source address's ports.
    static uint32_t next = 0;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + next++ % 250);
    FUZZ_CHECK(::bind(fd, reinterpret_cast<const sockaddr *>(&from), sizeof from) == 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(g_port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0);
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return fd;
}

// Everything the server sends until it closes; a server that neither answers nor
// closes within the bound is a finding.
std::string readAll(int fd, size_t alreadyWritten)
{
    std::string got;
    char buffer[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        // libFuzzer's own timer interrupts the wait now and then.
        int ready;
        do
            ready = ::poll(&p, 1, 30000);
        while (ready < 0 && errno == EINTR);
        FUZZ_CHECK(ready == 1);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return got;
        got.append(buffer, size_t(n));
        // Echoed bodies are at most the input; the heads around them are small.
        FUZZ_CHECK(got.size() < 64 * 1024 + 4 * alreadyWritten + 4096);
    }
}

// The answers must follow one another whole, each HTTP/1.1 with a known status and a
// length; after one that says it closes, nothing.
void checkAnswers(const std::string &bytes)
{
    static const int known[] = {100, 200, 400, 404, 405, 413, 415, 417, 431, 500, 501, 503, 505};
    size_t at = 0;
    while (at < bytes.size()) {
        http::response_parser<http::string_body> parser;
        parser.eager(true);
        parser.body_limit(bytes.size());
        boost::beast::error_code ec;
        const size_t used = parser.put(boost::asio::buffer(bytes.data() + at, bytes.size() - at), ec);
        FUZZ_CHECK(!ec && parser.is_done());
        const auto &answer = parser.get();
        FUZZ_CHECK(answer.version() == 11);
        FUZZ_CHECK(std::find(std::begin(known), std::end(known), answer.result_int()) != std::end(known));
        at += used;
        if (answer.result_int() == 100)
            continue;
        FUZZ_CHECK(answer.has_content_length());
        if (!answer.keep_alive())
            FUZZ_CHECK(at == bytes.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startServer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t splits = std::min<size_t>(data[0] % 8, size - 1);
    const uint8_t *places = data + 1;
    const uint8_t *bytes = data + 1 + splits;
    const size_t length = size - 1 - splits;
    std::vector<size_t> cuts;
    for (size_t i = 0; i < splits; ++i)
        cuts.push_back(length * places[i] / 256);
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(length);

    const int fd = connectToServer();
    size_t from = 0;
    for (const size_t to : cuts) {
        // A server that closed early makes writes fail: what it answered still counts.
        ssize_t sent;
        do
            sent = to > from ? ::send(fd, bytes + from, to - from, MSG_NOSIGNAL) : 0;
        while (sent < 0 && errno == EINTR);
        if (sent < 0)
            break;
        from = to;
    }
    ::shutdown(fd, SHUT_WR);
    const std::string answers = readAll(fd, length);
    ::close(fd);
    checkAnswers(answers);
    return 0;
}
