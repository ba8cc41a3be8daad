// Process start to first frame on screen, and the resident set then: the client
// from an install tree beside a bare QQuickView loading the same main.qml.

#include "benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <fstream>

namespace {

struct Start
{
    double ms = 0;
    double rssMiB = 0;
    bool ok = false;
};

double rssMiBOf(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// Starts the program and waits for the page's line on stderr; the resident set
// is read while the process still runs, then it is ended.
Start measure(const QString &program, const QStringList &arguments, const QProcessEnvironment &env)
{
    Start s;
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QDir::tempPath());
    process.setReadChannel(QProcess::StandardError);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted(30000))
        return s;
    QByteArray seen;
    while (clock.elapsed() < 60000) {
        if (!process.waitForReadyRead(60000 - int(clock.elapsed())))
            break;
        seen += process.readAllStandardError();
        if (seen.contains("first-frame")) {
            s.ms = clock.nsecsElapsed() / 1e6;
            s.rssMiB = rssMiBOf(process.processId());
            s.ok = true;
            break;
        }
    }
    if (!s.ok)
        std::fprintf(stderr, "%s gave no first frame; it said:\n%s\n", qPrintable(program), seen.constData());
    process.kill();
    process.waitForFinished();
    return s;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const bool smoke = bench::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);

    // The client finds its page relative to its binary: <root>/bin/zelko, <root>/qml/Zelko/main.qml.
    QTemporaryDir root;
    QDir(root.path()).mkpath("bin");
    QDir(root.path()).mkpath("qml/Zelko");
    QDir(root.path()).mkpath("home");
    const QString client = root.filePath("bin/zelko"), page = root.filePath("qml/Zelko/main.qml");
    if (!QFile::copy(QStringLiteral(ZELKO_BINARY), client)
        || !QFile::copy(QStringLiteral(ZELKO_BENCH_PAGE), page)) {
        std::fprintf(stderr, "cannot lay out the install tree in %s\n", qPrintable(root.path()));
        return 1;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", root.filePath("home"));
    env.insert("XDG_CONFIG_HOME", root.filePath("home/.config"));
    env.remove("QT_LOGGING_RULES");
    // The client picks its scene graph itself; a bare view without an OpenGL
    // context must be told to use the software one.
    QProcessEnvironment clientEnv = env, bareEnv = env;
    clientEnv.remove("QT_QUICK_BACKEND");
    bareEnv.insert("QT_QUICK_BACKEND", "software");
    const QString bare = QCoreApplication::applicationDirPath() + "/bareview";

    // One of each first, so that both find the libraries in the page cache.
    measure(client, {}, clientEnv);
    measure(bare, {page}, bareEnv);
    std::vector<double> oursMs, oursRss, bareMs, bareRss;
    bool failed = false;
    for (int i = 0; i < (smoke ? 1 : 9); ++i) {
        const Start o = measure(client, {}, clientEnv), b = measure(bare, {page}, bareEnv);
        failed |= !o.ok || !b.ok;
        oursMs.push_back(o.ms);
        oursRss.push_back(o.rssMiB);
        bareMs.push_back(b.ms);
        bareRss.push_back(b.rssMiB);
    }
    const double om = median(oursMs), bm = median(bareMs), orss = median(oursRss), brss = median(bareRss);
    auto verdict = [&](bool pass) { return smoke ? "smoke" : failed ? "error" : bench::verdict(pass); };
    const double ratio = bm > 0 ? om / bm : 0;
    bench::row("Start-up to first frame, offscreen (vs bare QQuickView, same main.qml)",
               bench::fmt("%.0f ms", om), bench::fmt("%.0f ms", bm), bench::fmt("%.2fx", ratio), "<= 1.1x",
               verdict(ratio > 0 && ratio <= 1.1));
    bench::row("Resident set at first frame (vs bare QQuickView)", bench::fmt("%.1f MiB", orss),
               bench::fmt("%.1f MiB", brss), bench::fmt("%+.1f MiB", orss - brss), "<= +5 MiB",
               verdict(orss - brss <= 5.0));
    return failed ? 1 : 0;
}
