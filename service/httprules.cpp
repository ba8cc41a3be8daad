#include "httprules.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>

#include <cstdio>
#include <functional>
#include <cstring>

namespace http = boost::beast::http;
namespace net = boost::asio;
using boost::beast::string_view;

namespace HttpRules {

std::string printable(string_view text)
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
    case 500:
        return "internal error\n";
    case 505:
        return "only HTTP/1.0 and HTTP/1.1 are served\n";
    default:
        return "request refused\n";
    }
}

HttpResponse plainAnswer(int status, const std::string &allow)
{
    HttpResponse answer;
    answer.status = status;
    answer.contentType = "text/plain";
    answer.body = textOf(status);
    if (status == 405)
        answer.headers.emplace_back("Allow", allow);
    return answer;
}

int refusalFor(const boost::beast::error_code &ec)
{
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        return 431;
    if (ec == http::error::body_limit)
        return 413;
    if (ec == http::error::bad_version)
        return 505;
    if (ec == boost::beast::error::timeout || ec == http::error::end_of_stream
        || ec == http::error::partial_message || ec == net::error::eof || ec == net::error::operation_aborted
        || ec == net::error::connection_reset || ec == net::ssl::error::stream_truncated)
        return 0;
    return 400;
}

namespace {

bool isTchar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

} // namespace

// Read whole by RFC 9110's list grammar
//   #transfer-coding, transfer-coding = token *( OWS ";" OWS token BWS "=" BWS ( token / quoted-string ) )
// what does not parse is 400, codings other than one "chunked" are 501 (or 400 for chunked
// given twice or with parameters).
int transferEncodingStatus(string_view value)
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
        return string_view(start, size_t(p - start));
    };
    int chunked = 0, others = 0;
    bool parameters = false;
    for (;;) {
        ows();
        const string_view coding = token();
        if (!coding.empty()) {
            (boost::beast::iequals(coding, "chunked") ? chunked : others) += 1;
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
                    // A quoted string must end before the value does, an escape included.
                    for (++p; p < end && *p != '"'; ++p)
                        if (*p == '\\' && ++p == end)
                            return 400;
                    if (p == end)
                        return 400;
                    ++p;
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

bool chunkExtensionsClean(string_view extensions)
{
    for (const unsigned char c : extensions)
        if ((c < 0x20 && c != '\t') || c == 0x7f)
            return false;
    return true;
}

bool folds(char before, string_view head)
{
    for (const char c : head) {
        if (before == '\n' && (c == ' ' || c == '\t'))
            return true;
        before = c;
    }
    return false;
}

void prepare(http::request_parser<http::string_body> &parser, const WebServer::Limits &limits)
{
    // Kept for good: the parser holds a reference to it, and only calls it.
    static std::function<void(std::uint64_t, string_view, boost::beast::error_code &)> checkChunk =
        [](std::uint64_t, string_view extensions, boost::beast::error_code &ec) {
            if (!chunkExtensionsClean(extensions))
                ec = http::error::bad_chunk_extension;
        };
    parser.header_limit(std::uint32_t(limits.maxHeaderBytes));
    parser.body_limit(limits.maxBody);
    parser.eager(false);
    parser.on_chunk_header(checkChunk);
}

std::string pathOf(string_view target)
{
    const size_t scheme = target.find("://");
    if (!target.empty() && target.front() != '/' && scheme != string_view::npos
        && (boost::beast::iequals(target.substr(0, scheme), "http")
            || boost::beast::iequals(target.substr(0, scheme), "https"))) {
        target.remove_prefix(scheme + 3);
        const size_t path = target.find_first_of("/?");
        target = path == string_view::npos ? string_view("/") : target.substr(path);
        if (target.front() == '?')
            return "/";
    }
    return std::string(target.substr(0, target.find('?')));
}

size_t blankLines(string_view bytes)
{
    size_t at = 0;
    for (;;) {
        if (bytes.substr(at, 2) == "\r\n")
            at += 2;
        else if (bytes.substr(at, 1) == "\n")
            at += 1;
        else
            return at;
    }
}

bool requestStarts(string_view bytes)
{
    return bytes.size() > 1 || (bytes.size() == 1 && bytes[0] != '\r');
}

HttpRequest requestOf(const http::request_header<> &head)
{
    HttpRequest request;
    request.method = std::string(head.method_string());
    request.path = pathOf(head.target());
    request.minorVersion = head.version() % 10;
    for (const auto &field : head) {
        std::string name(field.name_string());
        for (char &c : name)
            c = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
        request.headers.emplace_back(std::move(name), std::string(field.value()));
    }
    return request;
}

const WebServer::Route *routeFor(const std::vector<WebServer::Route> &routes, const HttpRequest &request,
                                 int *status, std::string *allow)
{
    const WebServer::Route *found = nullptr;
    *status = 404;
    for (const WebServer::Route &route : routes) {
        if (route.path != request.path)
            continue;
        *allow = route.method;
        *status = 405;
        if (route.method == request.method) {
            found = &route;
            *status = 200;
        }
    }
    return found;
}

HeadVerdict checkHead(const http::request_header<> &head, bool chunked, size_t maxFields)
{
    HeadVerdict verdict;
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
    if (fields > maxFields) {
        verdict.status = 431;
        return verdict;
    }
    if (hosts > 1 || (version == 11 && hosts == 0)) {
        verdict.status = 400;
        return verdict;
    }
    if (head.find(http::field::transfer_encoding) != head.end()) {
        const int status = version == 10 ? 400 : transferEncodingStatus(codings);
        verdict.status = status == 0 && !chunked ? 400 : status;
        if (verdict.status != 0)
            return verdict;
    }
    if (const auto expect = head.find(http::field::expect); expect != head.end() && version == 11) {
        if (!boost::beast::iequals(expect->value(), "100-continue"))
            verdict.status = 417;
        else
            verdict.expectContinue = true;
    }
    return verdict;
}

} // namespace HttpRules
