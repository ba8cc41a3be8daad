#include "httpanswer.h"

#include <boost/beast/http/serializer.hpp>

namespace http = boost::beast::http;
namespace net = boost::asio;

std::unique_ptr<QueuedAnswer> QueuedAnswer::make(HttpResponse &&response, bool keepAlive,
                                                 const http::request_header<> *request,
                                                 std::chrono::steady_clock::time_point begun)
{
    auto item = std::make_unique<QueuedAnswer>();
    item->answer = std::move(response);
    item->keepAlive = keepAlive;
    item->begun = begun;
    if (request) {
        item->method = std::string(request->method_string());
        item->path = std::string(request->target());
        item->headOnly = request->method() == http::verb::head;
    }
    auto &message = item->message;
    message.result(http::status(item->answer.status));
    message.version(11);
    if (!item->answer.contentType.empty())
        message.set(http::field::content_type, item->answer.contentType);
    for (const auto &field : item->answer.headers)
        message.set(field.first, field.second);
    if (item->answer.sharedOwner)
        message.body() = {item->answer.sharedData, item->answer.sharedSize};
    else
        message.body() = {item->answer.body.data(), item->answer.body.size()};
    message.prepare_payload();
    // An HTTP/1.0 client keeps the connection only when told so.
    if (!keepAlive)
        message.set(http::field::connection, "close");
    else if (request && request->version() == 10)
        message.set(http::field::connection, "keep-alive");
    return item;
}

std::unique_ptr<QueuedAnswer> QueuedAnswer::interim()
{
    auto item = std::make_unique<QueuedAnswer>();
    item->interimAnswer = true;
    item->message.result(http::status::continue_);
    item->message.version(11);
    return item;
}

std::array<net::const_buffer, 2> QueuedAnswer::buffers()
{
    http::serializer<false, http::span_body<const char>> serializer(message);
    serializer.split(true);
    boost::beast::error_code ec;
    serializer.next(ec, [&](boost::beast::error_code &, const auto &buffers) {
        head.resize(net::buffer_size(buffers));
        net::buffer_copy(net::buffer(head), buffers);
        serializer.consume(head.size());
    });
    const size_t bodySize = headOnly || interimAnswer ? 0 : message.body().size();
    return {net::buffer(head), net::buffer(message.body().data(), bodySize)};
}
