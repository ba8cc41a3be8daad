#ifndef HTTPRULES_H
#define HTTPRULES_H

// The rules a request is held to beyond what Beast's parser checks itself, written so that
// no front end can read a request otherwise than the service does (RFC 9110, 9112).

#include <boost/beast/core/error.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/message.hpp>

#include <cstddef>
#include <string>

namespace HttpRules {

// Method and path as the log shows them: a forged line or a terminal escape cannot pass.
std::string printable(boost::beast::string_view text);
// The text of a refusal's body.
const char *textOf(int status);
// What a failed read of a request head or body calls for: a refusal, or (0) closing in
// silence, for a client that went, stalled past its bound or sent nothing.
int refusalFor(const boost::beast::error_code &ec);
// The status a Transfer-Encoding value (every field of it, joined) calls for: 0 when it is
// exactly the one coding "chunked".
int transferEncodingStatus(boost::beast::string_view value);
// Whether a chunk's extensions, as Beast hands them over, are free of control bytes: a
// quoted string holding a line feed reads as two lines to a front end that ends lines there.
bool chunkExtensionsClean(boost::beast::string_view extensions);
// Whether a head (the bytes up to and including its blank line) folds a field (obs-fold).
bool folds(boost::beast::string_view head);
// The path of a target in origin form ("/search?x") or absolute form ("http://host/search").
std::string pathOf(boost::beast::string_view target);

struct HeadVerdict
{
    int status = 0; // 0: the request may go on
    bool expectContinue = false;
};
// The head's fields: how many, Host, Transfer-Encoding against what the parser saw, Expect.
HeadVerdict checkHead(const boost::beast::http::request_header<> &head, bool chunked, size_t maxFields);

} // namespace HttpRules

#endif
