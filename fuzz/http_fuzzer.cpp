// The service's HTTP sessions (service/webserver.*) in process, over loopback: arbitrary
// bytes, pipelined requests among them, written in pieces split at arbitrary points, then
// the end of the stream. Whatever comes back must be well-formed HTTP/1.1 answers, one
// after another, nothing after one that closes; nothing may crash, hang or leak.
//
// Input: the first byte gives the number of split points (0 to 7), the next bytes their
// places (each scaled into the rest); the rest is what the client writes. With the first
// byte's bit 0x40 set, the rest instead builds one POST whose Transfer-Encoding and
// Content-Length values are strung from the edge pieces of their grammars: it may be
// answered 200 only when its coding is exactly "chunked". With bit 0x80 set, the rest is a
// walk of a client's actions over time on a server whose bounds are short (http_walk.h).
#include "fuzzcheck.h"
#include "http_walk.h"
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
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The sessions' misuse of a stream (two writes on it at once) shows only as Beast's assertion.
#ifdef NDEBUG
#error "the fuzz targets are built with assertions on"
#endif

namespace http = boost::beast::http;

namespace {

int g_port = 0;
int g_walkPort = 0;

int startServer(WebServer &server)
{
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
    const int port = server.listen("127.0.0.1", 0, routes);
    FUZZ_CHECK(port > 0);
    FUZZ_CHECK(server.start(2));
    return port;
}

void startServers()
{
    WebServer::Limits limits;
    // The stream always ends, so no bound is waited out; a hang would still show.
    limits.requestMs = 5000;
    limits.lingerMs = 2000;
    static WebServer server(limits);
    g_port = startServer(server);
    // A walk's stalls of a few milliseconds reach these.
    WebServer::Limits brief;
    brief.requestMs = 100;
    brief.idleMs = 100;
    brief.writeMs = 1000;
    brief.lingerMs = 100;
    static WebServer walkServer(brief);
    g_walkPort = startServer(walkServer);
}

} // namespace

int HttpWalk::connectToServer(int port)
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
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // libFuzzer's own timer may interrupt the connect, which then goes on by itself.
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        FUZZ_CHECK(errno == EINTR);
        pollfd p{fd, POLLOUT, 0};
        while (::poll(&p, 1, 30000) < 0)
            FUZZ_CHECK(errno == EINTR);
        int error = 0;
        socklen_t size = sizeof error;
        FUZZ_CHECK(::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0);
    }
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return fd;
}

namespace {

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

// Pieces of field values at the edges of RFC 9110's list, token and number grammars.
const char *const edgePieces[] = {"chunked", "CHUNKED", "gzip",  "identity",   ",",   " ", "\t",
                                  ";",       "=",       "\"",    "\\",         "(",   ")", "@",
                                  "/",       "q",       "1",     "0",          "-",   "+", "\x01",
                                  "\x7f",    "\x80",    "\r\n ", "4294967296", "0x1", "00"};

std::string edgeValue(const uint8_t *&p, const uint8_t *end)
{
    std::string value;
    for (int n = p < end ? *p++ % 8 : 0; n > 0 && p < end; --n)
        value += edgePieces[*p++ % (sizeof edgePieces / sizeof *edgePieces)];
    return value;
}

// A POST to /search whose framing fields are built from data; its body is chunked. coding:
// the Transfer-Encoding fields' values joined, empty when there is none.
std::string framedRequest(const uint8_t *p, const uint8_t *end, std::string *coding)
{
    const uint8_t fields = p < end ? *p++ : 0;
    *coding = edgeValue(p, end);
    const std::string length = edgeValue(p, end);
    std::string request = "POST /search HTTP/1.1\r\nHost: x\r\n";
    if (fields & 1)
        request += "Transfer-Encoding: " + *coding + "\r\n";
    if (fields & 2)
        request += "Content-Length: " + length + "\r\n";
    if (fields & 4)
        request += "Transfer-Encoding: chunked\r\n";
    if (!(fields & 1))
        coding->clear();
    else if (coding->empty())
        *coding = " "; // a field with no coding at all
    if (fields & 4)
        coding->append(coding->empty() ? "chunked" : ",chunked");
    request += "\r\n2\r\n{}\r\n0\r\n\r\n";
    return (fields & 2) ? request + "\x01" : request;
}

// Exactly one coding, chunked: any case, whitespace and empty list elements around it.
bool onlyChunked(const std::string &coding)
{
    std::string word;
    for (const char c : coding) {
        if (c == ',' || c == ' ' || c == '\t')
            continue;
        word += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return word == "chunked" && coding.find_first_not_of(" \t,chunkedCHUNKED") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startServers();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 0x80) {
        HttpWalk::run(data + 1, size - 1, g_walkPort);
        return 0;
    }
    if (data[0] & 0x40) {
        std::string coding;
        const std::string request = framedRequest(data + 1, data + size, &coding);
        const int fd = HttpWalk::connectToServer(g_port);
        FUZZ_CHECK(::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()));
        ::shutdown(fd, SHUT_WR);
        const std::string answers = readAll(fd, request.size());
        ::close(fd);
        checkAnswers(answers);
        // A coding the service cannot read whole is refused, never taken another way.
        if (!coding.empty() && answers.compare(0, 12, "HTTP/1.1 200") == 0)
            FUZZ_CHECK(onlyChunked(coding));
        return 0;
    }
    const size_t splits = std::min<size_t>(data[0] % 8, size - 1);
    const uint8_t *places = data + 1;
    const uint8_t *bytes = data + 1 + splits;
    const size_t length = size - 1 - splits;
    std::vector<size_t> cuts;
    for (size_t i = 0; i < splits; ++i)
        cuts.push_back(length * places[i] / 256);
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(length);

    const int fd = HttpWalk::connectToServer(g_port);
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
