#include "httpserver.h"
#include "indexsource.h"
#include "searchservice.h"

#include <httplib.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Queries are a few hundred bytes and feedback a few thousand; anything larger is
// refused before it is read.
constexpr size_t MaxBodySize = 8 * 1024;

// The library's pool has a fixed handful of workers, each held by one connection for
// as long as it lasts, so a few clients that send slowly would starve everyone else.
// Here every connection gets a thread of its own, up to a cap; past the cap new
// connections wait in the listen backlog. Only the feedback endpoint, which sees
// little traffic, is served this way; searches go through HttpServer.
class ConnectionThreads : public httplib::TaskQueue
{
public:
    void enqueue(std::function<void()> connection) override
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        m_state->idle.wait(lock, [this] { return m_state->running < MaxConnections; });
        ++m_state->running;
        // The state outlives the queue: a finishing thread still touches it after shutdown() returns.
        auto serve = [state = m_state, connection] {
            connection();
            std::lock_guard<std::mutex> lock(state->mutex);
            --state->running;
            state->idle.notify_all();
        };
        try {
            std::thread(serve).detach();
        } catch (const std::system_error &) {
            // Out of threads: serve it here, which holds up accepting but loses no one.
            lock.unlock();
            serve();
        }
    }

    void shutdown() override
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        m_state->idle.wait(lock, [this] { return m_state->running == 0; });
    }

private:
    static constexpr size_t MaxConnections = 256;
    struct State
    {
        std::mutex mutex;
        std::condition_variable idle;
        size_t running = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

void logRequest(const char *method, const char *path, int status, size_t bodySize)
{
    std::fprintf(stderr, "%s %s %d %zu\n", method, path, status, bodySize);
}

void configure(httplib::Server &server)
{
    server.new_task_queue = [] { return new ConnectionThreads; };
    server.set_payload_max_length(MaxBodySize);
    // A client that stops sending in mid-request loses its connection, not a worker.
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    // Refused from the header alone: otherwise the library drains the declared length
    // first and the client waits out the read time-out for its answer.
    server.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        if (!req.has_header("Content-Length"))
            return httplib::Server::HandlerResponse::Unhandled;
        const std::string declared = req.get_header_value("Content-Length");
        if (std::strtoull(declared.c_str(), nullptr, 10) <= MaxBodySize)
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 413;
        res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty())
            return;
        const char *text = res.status == 413   ? "request body too large\n"
                           : res.status == 415 ? "multipart bodies are not accepted\n"
                           : res.status == 405 ? "method not allowed\n"
                           : res.status == 404 ? "not found\n"
                                               : "request refused\n";
        res.set_content(text, "text/plain");
    });
    server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
        logRequest(req.method.c_str(), req.path.c_str(), res.status, res.body.size());
    });
}

// The library caps bodies with a Content-Length but reads chunked ones whole, so
// bodies are read here, piece by piece, and refused once past the limit.
bool readBody(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader,
              QByteArray *body)
{
    if (req.is_multipart_form_data()) {
        res.status = 415;
        res.set_header("Connection", "close");
        return false;
    }
    bool tooLarge = false;
    const bool complete = reader([&](const char *data, size_t length) {
        if (size_t(body->size()) + length > MaxBodySize) {
            tooLarge = true;
            return false;
        }
        body->append(data, int(length));
        return true;
    });
    if (tooLarge) {
        res.status = 413;
        // The rest of the body is still on the connection; it cannot carry another request.
        res.set_header("Connection", "close");
        return false;
    }
    if (!complete) {
        // Cut short or broken chunking: a part of a query is not a query.
        res.status = 400;
        res.set_header("Connection", "close");
        return false;
    }
    return true;
}

// The library listens with a backlog of 5: clients that connect in a burst overflow
// it, and the kernel drops or resets the excess (seen as refused or reset connections).
// The socket it binds is the last one its socket-options hook saw, so that one is told
// to listen again with the system's backlog. The library also sets only SO_REUSEPORT,
// so connections another program left in TIME_WAIT on the port would keep the service
// from binding it for a minute; SO_REUSEADDR allows that.
int bindPort(httplib::Server &server, const std::string &host, int port)
{
    socket_t listening = INVALID_SOCKET;
    server.set_socket_options([&listening](socket_t sock) {
        httplib::default_socket_options(sock);
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listening = sock;
    });
    const int bound =
        port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
    server.set_socket_options(httplib::default_socket_options);
    if (bound >= 0 && listening != INVALID_SOCKET)
        ::listen(listening, SOMAXCONN);
    return bound;
}

bool isMultipart(const std::string *contentType)
{
    return contentType
           && QByteArray::fromStdString(*contentType).trimmed().toLower().startsWith("multipart/form-data");
}

void configure(HttpServer &server, const SearchService &service, const QByteArray *canned)
{
    server.setLogger([](const HttpRequest &req, const HttpResponse &res) {
        logRequest(req.method.empty() ? "-" : req.method.c_str(), req.path.empty() ? "-" : req.path.c_str(),
                   res.status, res.body.size());
    });
    server.route(
        "POST", "/search",
        [&service, canned](const HttpRequest &req, HttpResponse &res) {
            res.contentType = "application/octet-stream";
            if (canned) {
                res.body.assign(canned->constData(), size_t(canned->size()));
                return;
            }
            const QByteArray frame =
                service.answer(QByteArray::fromRawData(req.body.data(), int(req.body.size())));
            res.body.assign(frame.constData(), size_t(frame.size()));
        },
        [](const HttpRequest &head, HttpResponse &refusal) {
            if (!isMultipart(head.header("content-type")))
                return;
            refusal.status = 415;
            refusal.contentType = "text/plain";
            refusal.body = "multipart bodies are not accepted\n";
        });
}

int fail(const QString &message)
{
    std::fprintf(stderr, "zelko-service: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Taken first: the starter may die while the service is still loading.
    const pid_t starter = getppid();

    // Termination signals are taken by one waiting thread instead of a handler, so
    // stopping the servers happens outside signal context; threads inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelko-service"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reference search service over the installed-package database"));
    parser.addHelpOption();
    // The defaults are the local service address the build was configured with.
    const QCommandLineOption hostOption("host", "Address to listen on.", "address", ZELKO_LOCAL_SERVICE_HOST);
    const QCommandLineOption portOption("port", "Port of the search endpoint (0: any free port).", "port",
                                        ZELKO_LOCAL_SERVICE_PORT);
    const QCommandLineOption httpsOption("https-port",
                                         "Port of the HTTPS feedback endpoint (0: any free port).", "port",
                                         ZELKO_LOCAL_SERVICE_HTTPS_PORT);
    const QCommandLineOption statusOption("status-file", "dpkg status file to search.", "path",
                                          "/var/lib/dpkg/status");
    const QCommandLineOption archiveOption(
        "archive", "Search every package apt knows of (its lists from apt-get update) instead.");
    const QCommandLineOption packagesOption("packages-file",
                                            "Search a package list (Packages format) instead.", "path");
    const QCommandLineOption indexOption(
        "index", "Keep the search index in this file; reused while newer than its source.", "path");
    const QCommandLineOption buildIndexOption("build-index", "Write the search index to this file and exit.",
                                              "path");
    // Installed, the certificate sits in <prefix>/share/zelko/certs; in the build tree, in the sources.
    const QString installedCerts = QCoreApplication::applicationDirPath() + "/../share/zelko/certs";
    const QString certDir = QFileInfo::exists(installedCerts + "/zelko-service.crt")
                                ? QDir(installedCerts).absolutePath()
                                : QStringLiteral(ZELKO_SERVICE_CERT_DIR);
    // Named in --help: it is the file a client pins (the Request element's pinnedCertificate).
    const QCommandLineOption certOption(
        "cert", QStringLiteral("TLS certificate (PEM); by default %1/zelko-service.crt.").arg(certDir),
        "path", certDir + "/zelko-service.crt");
    const QCommandLineOption keyOption(
        "key", QStringLiteral("TLS private key (PEM); by default %1/zelko-service.key.").arg(certDir), "path",
        certDir + "/zelko-service.key");
    const QCommandLineOption parentOption("exit-with-parent",
                                          "Stop when the process that started the service ends.");
    // For benchmarks: every search answered with the bytes of a file through the same
    // server, parsing and writing, so the cost of answering can be told from the rest.
    QCommandLineOption cannedOption("canned-answer", "Answer every search with the bytes of this file.",
                                    "path");
    cannedOption.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption answerCacheOption(
        "answer-cache", "Memory for answers kept to be given again, in MiB (0: none).", "MiB",
        QString::number(SearchService::DefaultAnswerCacheBytes / (1024 * 1024)));
    parser.addOptions({hostOption, portOption, httpsOption, statusOption, archiveOption, packagesOption,
                       indexOption, buildIndexOption, answerCacheOption, certOption, keyOption, parentOption,
                       cannedOption});
    parser.process(app);

    IndexSource source;
    source.path = parser.value(statusOption);
    if (parser.isSet(archiveOption) + parser.isSet(packagesOption) + parser.isSet(statusOption) > 1)
        return fail(QStringLiteral("--status-file, --packages-file and --archive exclude each other"));
    if (parser.isSet(archiveOption)) {
        source.kind = IndexSource::Archive;
    } else if (parser.isSet(packagesOption)) {
        source.kind = IndexSource::PackagesFile;
        source.path = parser.value(packagesOption);
    }
    if (parser.isSet(buildIndexOption)) {
        QString error;
        const PackageIndex packages = source.read(&error);
        if (packages.size() == 0)
            return fail(error.isEmpty() ? QStringLiteral("no packages in %1").arg(source.describe()) : error);
        if (!packages.writeIndex(parser.value(buildIndexOption), source.describe(), &error))
            return fail(error);
        std::printf("zelko-service: %d packages from %s indexed in %s\n", packages.size(),
                    qPrintable(source.describe()), qPrintable(parser.value(buildIndexOption)));
        return 0;
    }

    if (parser.isSet(parentOption)) {
        // Scripts and tests that die without stopping the service must not leave it
        // holding its port; the signal goes to the waiting thread like any other.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        // Orphans are adopted by init (or a subreaper): the starter is already gone.
        if (getppid() != starter || starter == 1)
            return 0;
    }

    bool portOk = false, httpsOk = false;
    const int port = parser.value(portOption).toInt(&portOk);
    const int httpsPort = parser.value(httpsOption).toInt(&httpsOk);
    if (!portOk || port < 0 || port > 65535 || !httpsOk || httpsPort < 0 || httpsPort > 65535)
        return fail(QStringLiteral("ports must be numbers from 0 to 65535"));
    const std::string host = parser.value(hostOption).toStdString();

    bool answerCacheOk = false;
    const uint answerCacheMiB = parser.value(answerCacheOption).toUInt(&answerCacheOk);
    if (!answerCacheOk || answerCacheMiB > 65536)
        return fail(QStringLiteral("--answer-cache takes MiB from 0 to 65536"));

    QString indexNote, indexError;
    SearchService service(loadPackageIndex(source, parser.value(indexOption), &indexNote, &indexError),
                          size_t(answerCacheMiB) * 1024 * 1024);
    if (service.index().size() == 0)
        return fail(indexError);

    QByteArray canned;
    if (parser.isSet(cannedOption)) {
        QFile file(parser.value(cannedOption));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(file.fileName()));
        canned = file.readAll();
    }

    HttpServer::Limits limits;
    limits.maxBody = MaxBodySize;
    HttpServer http(limits);
    configure(http, service, parser.isSet(cannedOption) ? &canned : nullptr);

    const QByteArray cert = parser.value(certOption).toLocal8Bit();
    const QByteArray key = parser.value(keyOption).toLocal8Bit();
    httplib::SSLServer https(cert.constData(), key.constData());
    if (!https.is_valid())
        return fail(QStringLiteral("cannot load the TLS certificate %1 or key %2")
                        .arg(parser.value(certOption), parser.value(keyOption)));
    configure(https);
    https.Post("/feedback", [&service](const httplib::Request &req, httplib::Response &res,
                                       const httplib::ContentReader &reader) {
        QByteArray body;
        if (!readBody(req, res, reader, &body))
            return;
        const QByteArray json = service.feedback(body);
        res.set_content(json.constData(), size_t(json.size()), "application/json; charset=utf-8");
    });

    const int boundHttp = http.bind(host, port);
    if (boundHttp < 0)
        return fail(QStringLiteral("cannot listen on %1:%2").arg(QString::fromStdString(host)).arg(port));
    const int boundHttps = bindPort(https, host, httpsPort);
    if (boundHttps < 0)
        return fail(
            QStringLiteral("cannot listen on %1:%2").arg(QString::fromStdString(host)).arg(httpsPort));

    // Answering is all computation, so one worker per hardware thread keeps every core busy.
    if (!http.start(int(std::max(1u, std::thread::hardware_concurrency()))))
        return fail(QStringLiteral("cannot start the search server"));
    std::thread httpsThread([&https] { https.listen_after_bind(); });
    // stop() does nothing to a server whose thread has not started listening yet, and a
    // termination signal may come at once; so the servers are stoppable before anything is announced.
    for (int i = 0; i < 10000 && !https.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!https.is_running()) {
        fail(QStringLiteral("the servers did not start"));
        std::_Exit(1); // threads still use the servers, so nothing may be destroyed
    }
    // Tests and scripts wait for this line before they send anything.
    std::printf("zelko-service: %d packages from %s (%s)\n"
                "zelko-service: listening on http://%s:%d/search and https://%s:%d/feedback\n",
                service.index().size(), qPrintable(source.describe()), qPrintable(indexNote), host.c_str(),
                boundHttp, host.c_str(), boundHttps);
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    // Stopping waits for open connections, and a client may keep one open for good.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(10));
        std::_Exit(0);
    }).detach();
    http.stop();
    https.stop();
    httpsThread.join();
    return 0;
}
