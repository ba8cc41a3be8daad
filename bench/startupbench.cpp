// Process start to first frame on screen, and the resident set then: the client
// from an install tree beside a bare QQuickView loading the same main.qml.
// Then what each costs at rest: the client with its own screens showing the
// results of the reference service, and the bare view its static page, both left
// alone, counting the frames they draw and the times their threads wake.

#include "benchsupport.h"

#ifdef ZELKO_IDLE_CLIENT
#include "referenceservice.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

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

#ifdef ZELKO_IDLE_CLIENT

// The scene graph's renderer says "time in renderer" once for every frame it
// renders, under the basic and the threaded render loop alike; the render loop's
// own line ("Frame rendered with ...") comes from the basic loop only.
const char frameRule[] = "qt.scenegraph.time.renderer.debug=true";
const char frameMark[] = "time in renderer";

// Voluntary plus involuntary context switches of each thread of pid, by "tid name",
// from /proc/PID/task/*/status. A thread that ends takes its count with it.
std::map<std::string, long> threadSwitches(qint64 pid)
{
    std::map<std::string, long> switches;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream status((tasks + '/' + tid + "/status").toStdString());
        std::string line, name;
        long sum = 0;
        while (std::getline(status, line)) {
            if (line.compare(0, 5, "Name:") == 0) {
                const size_t at = line.find_first_not_of(" \t", 5);
                name = at == std::string::npos ? std::string() : line.substr(at);
            } else if (line.compare(0, 24, "voluntary_ctxt_switches:") == 0)
                sum += std::stol(line.substr(24));
            else if (line.compare(0, 27, "nonvoluntary_ctxt_switches:") == 0)
                sum += std::stol(line.substr(27));
        }
        switches[tid.toStdString() + ' ' + name] = sum;
    }
    return switches;
}

long total(const std::map<std::string, long> &switches)
{
    long sum = 0;
    for (const auto &thread : switches)
        sum += thread.second;
    return sum;
}

// A program left running for the idle measure. Its standard error is read as it
// comes, whenever an event loop runs, so that a chatty program never blocks on a
// full pipe, and the frames it reports are counted as they arrive.
class Watched
{
public:
    Watched(const QString &name, const QString &program, const QStringList &arguments,
            QProcessEnvironment env)
        : m_name(name)
    {
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QString::fromLatin1(frameRule));
        // The frame lines are recognised in Qt's default message pattern.
        env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(QDir::tempPath());
        m_process.setStandardOutputFile(QProcess::nullDevice());
        QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process, [this] { take(); });
        m_process.start(program, arguments);
    }
    ~Watched()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    const QString &name() const { return m_name; }
    QProcess *process() { return &m_process; }
    bool running() const { return m_process.state() == QProcess::Running; }
    int frames() const { return m_frames; }
    const QByteArray &said() const { return m_said; }
    std::map<std::string, long> switches() const { return threadSwitches(m_process.processId()); }

    void take()
    {
        const QByteArray more = m_process.readAllStandardError();
        m_said += more;
        m_partial += more;
        const int end = m_partial.lastIndexOf('\n');
        if (end < 0)
            return;
        for (const QByteArray &line : m_partial.left(end).split('\n')) {
            if (line.contains(frameMark))
                ++m_frames;
        }
        m_partial.remove(0, end + 1);
    }

private:
    QString m_name;
    QProcess m_process;
    QByteArray m_said, m_partial;
    int m_frames = 0;
};

// Runs the event loop until done() holds, asked whenever one of the programs
// says something or ends, or until ms have passed; gives done().
bool waitUntil(const std::vector<Watched *> &programs, const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    for (Watched *w : programs) {
        QObject::connect(w->process(), &QProcess::readyReadStandardError, &loop, [&] {
            if (done())
                loop.quit();
        });
        QObject::connect(w->process(), QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                         &QEventLoop::quit);
    }
    loop.exec();
    return done();
}

// Waits until none of the programs has drawn a frame for quietMs (thumbnails
// decoded, transitions over), at most boundMs; false when they did not come to rest.
bool settle(const std::vector<Watched *> &programs, int quietMs, int boundMs)
{
    const auto framesNow = [&] {
        int sum = 0;
        for (Watched *w : programs)
            sum += w->frames();
        return sum;
    };
    QEventLoop loop;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setTimerType(Qt::PreciseTimer);
    quiet.setInterval(quietMs);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer::singleShot(boundMs, &loop, &QEventLoop::quit);
    int seen = framesNow();
    for (Watched *w : programs) {
        QObject::connect(w->process(), &QProcess::readyReadStandardError, &loop, [&] {
            if (framesNow() != seen) {
                seen = framesNow();
                quiet.start();
            }
        });
        QObject::connect(w->process(), QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                         &QEventLoop::quit);
    }
    quiet.start();
    loop.exec();
    return !quiet.isActive()
           && std::all_of(programs.begin(), programs.end(), [](Watched *w) { return w->running(); });
}

// Copies the folder from into to, subfolders included.
bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + '/' + QDir(from).relativeFilePath(file);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(file, target))
            return false;
    }
    return true;
}

// The client at rest with the first page of results on screen beside the bare
// view at rest with its static page, both left alone over the same window: the
// frames each draws and the context switches of all its threads. Prints the two
// rows; false when either program did not come up or did not last.
bool measureIdle(bool smoke, const QString &root, QProcessEnvironment env, const QString &bare,
                 const QString &page)
{
    const int windowMs = smoke ? 1000 : 10000;
    const std::string what = std::string("Idle ") + (smoke ? "1 s" : "10 s") + " with results on screen: ";
    // Both on the same scene graph, the one the client takes offscreen by itself.
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));

    // The shipped program reads no service address: the test build of the same
    // main.cpp takes it from its environment.
    QString failure;
    const QString client = root + QStringLiteral("/idle/bin/zelko");
    ReferenceService service;
    if (!QDir(root).mkpath(QStringLiteral("idle/bin"))
        || !QFile::copy(QStringLiteral(ZELKO_IDLE_CLIENT), client)
        || !copyTree(QStringLiteral(ZELKO_QML_DIR), root + QStringLiteral("/idle/qml/Zelko")))
        failure = QStringLiteral("cannot lay out the client's install tree in ") + root;
    else if (!service.start())
        failure = QStringLiteral("zelko-service did not start: ") + service.log();

    int frames[2] = {0, 0};
    long switches[2] = {0, 0};
    if (failure.isEmpty()) {
        QProcessEnvironment clientEnv = env;
        clientEnv.insert(QStringLiteral("ZELKO_TEST_SERVICE_URL"), service.searchUrl());
        Watched ours(QStringLiteral("the client"), client, {}, clientEnv);
        std::unique_ptr<Watched> bareView;
        int shownFrames = 0;
        if (!waitUntil(
                {&ours}, [&] { return ours.said().contains("zelko: results shown ("); }, 60000)) {
            failure = QStringLiteral("the client showed no results; it said:\n")
                      + QString::fromLocal8Bit(ours.said());
        } else {
            shownFrames = ours.frames();
            bareView =
                std::make_unique<Watched>(QStringLiteral("the bare view"), bare, QStringList{page}, env);
            if (!waitUntil(
                    {bareView.get()}, [&] { return bareView->said().contains("first-frame"); }, 60000))
                failure = QStringLiteral("the bare view gave no first frame; it said:\n")
                          + QString::fromLocal8Bit(bareView->said());
        }
        if (failure.isEmpty()) {
            // At rest first; if they never are, the window counts what they keep doing.
            QElapsedTimer resting;
            resting.start();
            if (!settle({&ours, bareView.get()}, 1000, 10000))
                std::fprintf(stderr, "idle: not at rest after 10 s; measured as they are\n");
            // What the client still drew once it had said its results were shown.
            std::fprintf(stderr,
                         "idle: the client drew %d frames after its results were shown; the wait for 1 s "
                         "without a frame took %lld ms\n",
                         ours.frames() - shownFrames, resting.elapsed());
            for (Watched *w : {&ours, bareView.get()}) {
                if (!w->running())
                    failure = w->name() + QStringLiteral(" ended before the window");
            }
        }
        if (failure.isEmpty()) {
            Watched *both[2] = {&ours, bareView.get()};
            std::map<std::string, long> before[2], after[2];
            int framesBefore[2];
            for (int i = 0; i < 2; ++i) {
                both[i]->take();
                framesBefore[i] = both[i]->frames();
                before[i] = both[i]->switches();
            }
            QEventLoop window;
            QTimer::singleShot(windowMs, Qt::PreciseTimer, &window, &QEventLoop::quit);
            window.exec();
            for (int i = 0; i < 2; ++i) {
                after[i] = both[i]->switches();
                both[i]->take();
                frames[i] = both[i]->frames() - framesBefore[i];
                switches[i] = total(after[i]) - total(before[i]);
                if (!both[i]->running() || after[i].empty())
                    failure = both[i]->name() + QStringLiteral(" ended during the window");
                // Which threads woke, for the log: the rows give only the sums.
                std::string woken;
                for (const auto &thread : after[i]) {
                    const auto was = before[i].find(thread.first);
                    const long n = thread.second - (was == before[i].end() ? 0 : was->second);
                    if (n != 0)
                        woken += " [" + thread.first + "] +" + std::to_string(n);
                }
                std::fprintf(stderr, "idle: %s drew %d frames; threads woken:%s\n",
                             qPrintable(both[i]->name()), frames[i], woken.empty() ? " none" : woken.c_str());
            }
        }
    }
    if (!failure.isEmpty())
        std::fprintf(stderr, "idle: %s\n", qPrintable(failure));

    const bool failed = !failure.isEmpty();
    auto verdict = [&](bool pass) { return smoke ? "smoke" : failed ? "error" : bench::verdict(pass); };
    // The bare view draws nothing once its static page is up, so the frames
    // beyond its own are the client's.
    const int extraFrames = frames[0] - frames[1];
    bench::row(what + "frames drawn (client against the service vs bare QQuickView, static page)",
               std::to_string(frames[0]) + " frames", std::to_string(frames[1]) + " frames",
               bench::fmt("%+.0f frames", extraFrames), "<= 0 frames", verdict(extraFrames <= 0));
    // Counted from one on both sides, so that a bare view that never wakes still
    // gives a ratio: a client that wakes once where it never does is at 2x.
    const double ratio = double(switches[0] + 1) / double(switches[1] + 1);
    bench::row(what + "context switches, all threads (client vs bare QQuickView)",
               std::to_string(switches[0]) + " switches", std::to_string(switches[1]) + " switches",
               bench::fmt("%.2fx", ratio), "<= 1.20x", verdict(ratio <= 1.2));
    return !failed;
}

#endif

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
#ifdef ZELKO_IDLE_CLIENT
    failed |= !measureIdle(smoke, root.path(), env, bare, page);
#else
    std::fprintf(stderr, "idle: not measured, this build has no reference service\n");
#endif
    return failed ? 1 : 0;
}
