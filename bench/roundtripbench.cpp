// request() to response over loopback, beside a bare QNetworkAccessManager POST
// of the same body to the same server that only reads the answer.

#include "benchsupport.h"
#include "zelkoservicehelper.h"
#include "zelkostaticdata.h"
#include "zelkotesting.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <ctime>
#include <functional>

namespace {

struct Round
{
    double seconds = 0;
    double cpuSeconds = 0; // this process, all threads
    std::vector<double> latenciesUs;
    bool failed = false;
};

// Keeps inFlight requests going until total have completed. issue() starts one
// and must call done(start) when it completes, or fail() when it does not.
class Pump
{
public:
    using Issue = std::function<void(qint64 start)>;

    Round run(int total, int inFlight, const Issue &issue)
    {
        m_round = Round();
        m_round.latenciesUs.reserve(size_t(total));
        m_total = total;
        m_issued = m_completed = 0;
        m_issue = issue;
        const double cpuBefore = processCpuSeconds();
        m_clock.start();
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &m_loop, [this] {
            m_round.failed = true;
            m_loop.quit();
        });
        watchdog.start(120000);
        for (int i = 0; i < inFlight && m_issued < total; ++i)
            next();
        m_loop.exec();
        m_round.seconds = m_clock.nsecsElapsed() / 1e9;
        m_round.cpuSeconds = processCpuSeconds() - cpuBefore;
        return m_round;
    }

    void done(qint64 start)
    {
        m_round.latenciesUs.push_back((m_clock.nsecsElapsed() - start) / 1e3);
        if (++m_completed == m_total)
            m_loop.quit();
        else if (m_issued < m_total)
            next();
    }

    void fail()
    {
        m_round.failed = true;
        m_loop.quit();
    }

private:
    static double processCpuSeconds()
    {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + t.tv_nsec / 1e9;
    }

    void next()
    {
        ++m_issued;
        m_issue(m_clock.nsecsElapsed());
    }

    QEventLoop m_loop;
    QElapsedTimer m_clock;
    Issue m_issue;
    Round m_round;
    int m_total = 0, m_issued = 0, m_completed = 0;
};

struct Summary
{
    double requestsPerSecond = 0, p50 = 0, p99 = 0, cpuUsPerRequest = 0;
    bool failed = false;
};

Summary summarise(const std::vector<Round> &rounds)
{
    Summary s;
    // Medians over the rounds, so that one round the machine disturbed does not
    // decide a tail that both clients share.
    std::vector<double> rates, cpu, p50s, p99s;
    for (const Round &r : rounds) {
        s.failed |= r.failed;
        rates.push_back(r.latenciesUs.size() / r.seconds);
        cpu.push_back(r.cpuSeconds * 1e6 / double(r.latenciesUs.size()));
        p50s.push_back(bench::percentile(r.latenciesUs, 0.5));
        p99s.push_back(bench::percentile(r.latenciesUs, 0.99));
    }
    s.requestsPerSecond = bench::percentile(rates, 0.5);
    s.cpuUsPerRequest = bench::percentile(cpu, 0.5);
    s.p50 = bench::percentile(p50s, 0.5);
    s.p99 = bench::percentile(p99s, 0.5);
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    const bool smoke = bench::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);

    // The server takes a free port and request() posts there, whatever address the build compiled in.
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QCoreApplication::applicationDirPath() + "/benchserver",
                 {"--port", "0", "--frame", "16384"});
    const QList<QByteArray> listening = server.waitForStarted() && server.waitForReadyRead(90000)
                                            ? server.readLine().trimmed().split(' ')
                                            : QList<QByteArray>();
    if (listening.size() != 3 || listening[0] != "listening") {
        std::fprintf(stderr, "the bench server did not start\n");
        return 1;
    }
    ZelkoTesting::setServiceUrl(
        QStringLiteral("http://127.0.0.1:%1/search").arg(QString::fromLatin1(listening[2])));
    const QUrl url(ZelkoStaticData::serviceUrl());

    const QString query =
        QStringLiteral("{\"q\":\"text editor\",\"page\":1,\"per_page\":20,\"lang\":\"en\"}");
    const QByteArray body = query.toUtf8();

    ZelkoServiceHelper helper;
    QNetworkAccessManager bare;
    Pump pump;
    QHash<int, qint64> started;
    QObject::connect(&helper, &ZelkoServiceHelper::response, [&](int, int, const QString &json, int key) {
        if (json.isEmpty())
            pump.fail();
        pump.done(started.take(key));
    });
    QObject::connect(&helper, &ZelkoServiceHelper::error, [&](int, int) { pump.fail(); });

    const Pump::Issue oursIssue = [&](qint64 start) { started.insert(helper.request(query), start); };
    const Pump::Issue bareIssue = [&](qint64 start) {
        QNetworkRequest request;
        request.setUrl(url);
        QNetworkReply *reply = bare.post(request, body);
        QObject::connect(reply, &QNetworkReply::finished, [&pump, reply, start] {
            const bool ok = reply->error() == QNetworkReply::NoError && !reply->readAll().isEmpty();
            reply->deleteLater();
            if (!ok)
                pump.fail();
            else
                pump.done(start);
        });
    };

    // For a profiler: one variant alone, "--profile ours|bare [in flight]".
    const int profileAt = app.arguments().indexOf(QStringLiteral("--profile"));
    if (profileAt > 0 && profileAt + 1 < app.arguments().size()) {
        const bool oursOnly = app.arguments().at(profileAt + 1) == QLatin1String("ours");
        const int inFlight =
            profileAt + 2 < app.arguments().size() ? app.arguments().at(profileAt + 2).toInt() : 32;
        const Round r = pump.run(2000, inFlight, oursOnly ? oursIssue : bareIssue);
        std::fprintf(stderr, "%zu requests, %.1f us CPU each\n", r.latenciesUs.size(),
                     r.cpuSeconds * 1e6 / double(r.latenciesUs.size()));
        server.kill();
        server.waitForFinished();
        return r.failed ? 1 : 0;
    }

    // Short rounds, taken in turn and each side first in every other round, so
    // that a change in the machine's load, or whatever the round before left
    // behind, falls on both sides alike.
    const int rounds = smoke ? 1 : 6;
    bool anyFailed = false;
    for (int inFlight : {1, 32}) {
        const int total = smoke ? 20 : inFlight == 1 ? 600 : 2000;
        // Connections opened and the code paths warm before anything is timed.
        pump.run(smoke ? 5 : 200, inFlight, oursIssue);
        pump.run(smoke ? 5 : 200, inFlight, bareIssue);
        std::vector<Round> ours, ref;
        for (int r = 0; r < rounds; ++r) {
            for (int k = 0; k < 2; ++k) {
                if ((r + k) % 2 == 0)
                    ours.push_back(pump.run(total, inFlight, oursIssue));
                else
                    ref.push_back(pump.run(total, inFlight, bareIssue));
            }
        }
        const Summary o = summarise(ours), b = summarise(ref);
        anyFailed |= o.failed || b.failed;
        const std::string what =
            "Loopback round trip, 16 KiB frame, " + std::to_string(inFlight) + " in flight: ";
        const double rate = b.requestsPerSecond > 0 ? o.requestsPerSecond / b.requestsPerSecond : 0;
        const double p50 = b.p50 > 0 ? o.p50 / b.p50 : 0, p99 = b.p99 > 0 ? o.p99 / b.p99 : 0;
        auto verdict = [&](bool pass) {
            return smoke ? "smoke" : o.failed || b.failed ? "error" : bench::verdict(pass);
        };
        bench::row(what + "requests/s (vs bare QNAM POST)", bench::fmt("%.0f /s", o.requestsPerSecond),
                   bench::fmt("%.0f /s", b.requestsPerSecond), bench::fmt("%.2fx", rate), ">= 0.9x",
                   verdict(rate >= 0.9));
        bench::row(what + "p50 latency", bench::fmt("%.0f us", o.p50), bench::fmt("%.0f us", b.p50),
                   bench::fmt("%.2fx", p50), "(reported)", smoke ? "smoke" : "info");
        bench::row(what + "p99 latency", bench::fmt("%.0f us", o.p99), bench::fmt("%.0f us", b.p99),
                   bench::fmt("%.2fx", p99), "<= 1.2x", verdict(p99 > 0 && p99 <= 1.2));
        // CPU time of this process (both its threads), which the load of the
        // rest of the machine disturbs less than the rates above.
        bench::row(what + "client CPU per request", bench::fmt("%.0f us", o.cpuUsPerRequest),
                   bench::fmt("%.0f us", b.cpuUsPerRequest),
                   bench::fmt("%.2fx", b.cpuUsPerRequest > 0 ? o.cpuUsPerRequest / b.cpuUsPerRequest : 0),
                   "(reported)", smoke ? "smoke" : "info");
    }

    server.kill();
    server.waitForFinished();
    return anyFailed ? 1 : 0;
}
