#include "indexsource.h"
#include "logsink.h"
#include "owncertificate.h"
#include "searchservice.h"
#include "webserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Queries are a few hundred bytes and feedback a few thousand; anything larger is
// refused before it is read.
constexpr size_t MaxBodySize = 8 * 1024;

bool isMultipart(const std::string *contentType)
{
    return contentType
           && QByteArray::fromStdString(*contentType).trimmed().toLower().startsWith("multipart/form-data");
}

void refuseMultipart(const HttpRequest &head, HttpResponse &refusal)
{
    if (!isMultipart(head.header("content-type")))
        return;
    refusal.status = 415;
    refusal.contentType = "text/plain";
    refusal.body = "multipart bodies are not accepted\n";
}

// The answer is written from the frame itself: kept answers are shared, not copied.
void shareFrame(HttpResponse &res, std::shared_ptr<const QByteArray> frame)
{
    res.sharedData = frame->constData();
    res.sharedSize = size_t(frame->size());
    res.sharedOwner = std::move(frame);
}

std::vector<WebServer::Route> searchRoutes(const SearchService &service,
                                           const std::shared_ptr<const QByteArray> &canned)
{
    return {{"POST", "/search",
             [&service, canned](const HttpRequest &req, HttpResponse &res) {
                 res.contentType = "application/octet-stream";
                 shareFrame(res, canned ? canned
                                        : std::make_shared<const QByteArray>(service.answer(
                                            QByteArray::fromRawData(req.body.data(), int(req.body.size())))));
             },
             refuseMultipart}};
}

std::vector<WebServer::Route> feedbackRoutes(SearchService &service)
{
    return {{"POST", "/feedback",
             [&service](const HttpRequest &req, HttpResponse &res) {
                 const QByteArray json =
                     service.feedback(QByteArray::fromRawData(req.body.data(), int(req.body.size())));
                 res.contentType = "application/json; charset=utf-8";
                 res.body.assign(json.constData(), size_t(json.size()));
             },
             refuseMultipart}};
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
    const QCommandLineOption statusOption(
        "status-file", "Search a dpkg status file instead of the installed packages (dpkg-query).", "path");
    const QCommandLineOption archiveOption(
        "archive", "Search every package apt knows of (its lists from apt-get update) instead.");
    const QCommandLineOption packagesOption("packages-file",
                                            "Search a package list (Packages format) instead.", "path");
    const QCommandLineOption indexOption(
        "index", "Keep the search index in this file; reused while newer than its source.", "path");
    const QCommandLineOption buildIndexOption("build-index", "Write the search index to this file and exit.",
                                              "path");
    // No key is shipped: by default the service makes its own at its first start, in a
    // folder of its own, and a client pins the certificate beside it.
    const QString ownFolder = QString::fromStdString(OwnCertificate::defaultFolder());
    const QCommandLineOption certOption(
        "cert",
        QStringLiteral(
            "TLS certificate (PEM); by default %1/zelko-service.crt, made with its key at the first "
            "start (the file a client pins).")
            .arg(ownFolder),
        "path", ownFolder + "/zelko-service.crt");
    const QCommandLineOption keyOption(
        "key",
        QStringLiteral(
            "TLS private key (PEM); by default %1/zelko-service.key, readable only by the service.")
            .arg(ownFolder),
        "path", ownFolder + "/zelko-service.key");
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
    const WebServer::Limits defaults;
    const QCommandLineOption maxConnectionsOption(
        "max-connections",
        "Connections open at a time on each endpoint; past that one with no request in progress is closed, "
        "or, when all are busy, a client gets 503.",
        "count", QString::number(defaults.maxConnections));
    const QCommandLineOption maxPerAddressOption("max-per-address",
                                                 "The same, from one address (a balancer is one address).",
                                                 "count", QString::number(defaults.maxPerAddress));
    // For tests: the bounds of a request (head and body, from its first byte) and of an
    // idle kept-alive connection, so that a slow client's end comes without a long wait.
    QCommandLineOption requestTimeOption("request-time", "Milliseconds a request may take to arrive.", "ms",
                                         QString::number(defaults.requestMs));
    requestTimeOption.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption idleTimeOption("idle-time", "Milliseconds a kept-alive connection may wait.", "ms",
                                      QString::number(defaults.idleMs));
    idleTimeOption.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption writeTimeOption("write-time", "Milliseconds an answer may take to be sent.", "ms",
                                       QString::number(defaults.writeMs));
    writeTimeOption.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption stallTimeOption(
        "stall-time", "Milliseconds without a byte after which a request under way makes room.", "ms",
        QString::number(defaults.stallMs));
    stallTimeOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({hostOption, portOption, httpsOption, statusOption, archiveOption, packagesOption,
                       indexOption, buildIndexOption, answerCacheOption, certOption, keyOption,
                       maxConnectionsOption, maxPerAddressOption, parentOption, cannedOption,
                       requestTimeOption, idleTimeOption, writeTimeOption, stallTimeOption});
    parser.process(app);

    IndexSource source;
    if (parser.isSet(statusOption)) {
        source.kind = IndexSource::Status;
        source.path = parser.value(statusOption);
    }
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

    // Checked, or made, before any port is bound: a service that refuses its key has
    // answered nobody, and a pair it cannot trust is never silently replaced.
    const std::string certFile = parser.value(certOption).toStdString();
    const std::string keyFile = parser.value(keyOption).toStdString();
    std::string error, madeFingerprint;
    if (parser.isSet(certOption) || parser.isSet(keyOption)
            ? !OwnCertificate::check(certFile, keyFile, &error)
            : !OwnCertificate::ensure(certFile, keyFile, &error, &madeFingerprint))
        return fail(QString::fromStdString(error));
    if (!madeFingerprint.empty())
        std::fprintf(
            stderr,
            "zelko-service: made a new key and certificate in %s; certificate SHA-256 fingerprint %s\n",
            qPrintable(ownFolder), madeFingerprint.c_str());

    QString indexNote, indexError;
    SearchService service(loadPackageIndex(source, parser.value(indexOption), &indexNote, &indexError),
                          size_t(answerCacheMiB) * 1024 * 1024);
    if (service.index().size() == 0)
        return fail(indexError);

    std::shared_ptr<const QByteArray> canned;
    if (parser.isSet(cannedOption)) {
        QFile file(parser.value(cannedOption));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(file.fileName()));
        canned = std::make_shared<const QByteArray>(file.readAll());
    }

    WebServer::Limits limits;
    limits.maxBody = MaxBodySize;
    bool limitsOk[6] = {};
    limits.maxConnections = parser.value(maxConnectionsOption).toUInt(&limitsOk[0]);
    limits.maxPerAddress = parser.value(maxPerAddressOption).toUInt(&limitsOk[1]);
    limits.requestMs = parser.value(requestTimeOption).toInt(&limitsOk[2]);
    limits.idleMs = parser.value(idleTimeOption).toInt(&limitsOk[3]);
    limits.writeMs = parser.value(writeTimeOption).toInt(&limitsOk[4]);
    limits.stallMs = parser.value(stallTimeOption).toInt(&limitsOk[5]);
    if (!std::all_of(std::begin(limitsOk), std::end(limitsOk), [](bool ok) { return ok; })
        || limits.maxConnections == 0 || limits.maxPerAddress == 0 || limits.requestMs <= 0
        || limits.idleMs <= 0 || limits.writeMs <= 0 || limits.stallMs < 0)
        return fail(QStringLiteral("--max-connections, --max-per-address and the times take numbers from 1"));
    // Made before the server, so gone after it: its threads log until they end.
    LogSink log(LogSink::detect());
    WebServer server(limits);
    server.setLogger([&log](const std::string &method, const std::string &path, int status, size_t bodySize,
                            int64_t us) { log.request(method, path, status, bodySize, us); });
    const int boundHttp = server.listen(host, port, searchRoutes(service, canned), {}, {}, &error);
    if (boundHttp < 0)
        return fail(QString::fromStdString(error));
    const int boundHttps = server.listen(host, httpsPort, feedbackRoutes(service), certFile, keyFile, &error);
    if (boundHttps < 0)
        return fail(QString::fromStdString(error));

    // Answering is all computation, so one thread per hardware thread keeps every core busy.
    if (!server.start(int(std::max(1u, std::thread::hardware_concurrency()))))
        return fail(QStringLiteral("cannot start the servers"));
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
    server.stop();
    return 0;
}
