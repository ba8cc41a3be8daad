#ifndef HTTPRULES_H
#define HTTPRULES_H

// The rules a request is held to beyond what Beast's parser checks itself, written so that
// no front end can read a request otherwise than the service does (RFC 9110, 9112).

#include <boost/beast/core/error.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include "webserver.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace HttpRules {

// Method and path as the log shows them: a forged line or a terminal escape cannot pass.
std::string printable(boost::beast::string_view text);
// The text of a refusal's body, and a refusal or error answer that carries it (405 with
// the method that is allowed).
const char *textOf(int status);
HttpResponse plainAnswer(int status, const std::string &allow = {});
// What a failed read of a request head or body calls for: a refusal, or (0) closing in
// silence, for a client that went, stalled past its bound or sent nothing.
int refusalFor(const boost::beast::error_code &ec);
// The status a Transfer-Encoding value (every field of it, joined) calls for: 0 when it is
// exactly the one coding "chunked".
int transferEncodingStatus(boost::beast::string_view value);
// Whether a chunk's extensions, as Beast hands them over, are free of control bytes: a
// quoted string holding a line feed reads as two lines to a front end that ends lines there.
bool chunkExtensionsClean(boost::beast::string_view extensions);
// Whether the next bytes of a head, after the byte before them, fold a field (obs-fold).
bool folds(char before, boost::beast::string_view head);
// A parser for one request within these limits, that stops at the end of the head (a
// head's bytes are then known apart from the body's) and refuses dirty chunk extensions.
void prepare(boost::beast::http::request_parser<boost::beast::http::string_body> &parser,
             const WebServer::Limits &limits);
// The path of a target in origin form ("/search?x") or absolute form ("http://host/search").
std::string pathOf(boost::beast::string_view target);

// How many bytes at the front are blank lines, which may come before a request (RFC 9112,
// 2.2), and whether what follows them is the start of a request rather than half a CR LF.
size_t blankLines(boost::beast::string_view bytes);
bool requestStarts(boost::beast::string_view bytes);
// The request as a route sees it: method, path, version, fields (names in lower case).
HttpRequest requestOf(const boost::beast::http::request_header<> &head);
// The route for the request's method and path, or null with status 404, or 405 and the
// method the path allows.
const WebServer::Route *routeFor(const std::vector<WebServer::Route> &routes, const HttpRequest &request,
                                 int *status, std::string *allow);

struct HeadVerdict
{
    int status = 0; // 0: the request may go on
    bool expectContinue = false;
};
// The head's fields: how many, Host, Transfer-Encoding against what the parser saw, Expect.
HeadVerdict checkHead(const boost::beast::http::request_header<> &head, bool chunked, size_t maxFields);

} // namespace HttpRules

#endif
