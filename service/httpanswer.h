#ifndef HTTPANSWER_H
#define HTTPANSWER_H

#include "webserver.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/span_body.hpp>

#include <array>
#include <chrono>
#include <memory>
#include <string>

// One thing a session owes its client, queued until it is written: an answer, or the
// interim 100 Continue that lets a client send its body.
struct QueuedAnswer
{
    // To the request whose head is given (null when none was read whole).
    static std::unique_ptr<QueuedAnswer> make(HttpResponse &&response, bool keepAlive,
                                              const boost::beast::http::request_header<> *request,
                                              std::chrono::steady_clock::time_point begun);
    static std::unique_ptr<QueuedAnswer> interim();

    // The head as Beast's serializer writes it, then the body (none for HEAD or an interim
    // answer): one gather write, where http::async_write's buffer sequences would cost some
    // 14% of the answers a second under loadbench (8 connections).
    std::array<boost::asio::const_buffer, 2> buffers();

    HttpResponse answer;
    // Written from where the bytes are: a kept answer is not copied per request.
    boost::beast::http::response<boost::beast::http::span_body<const char>> message;
    bool interimAnswer = false;
    bool keepAlive = false;
    bool headOnly = false;    // to a HEAD: the fields say what the body would be, no more
    std::string method, path; // for the log
    std::chrono::steady_clock::time_point begun;
    std::string head;
};

#endif
