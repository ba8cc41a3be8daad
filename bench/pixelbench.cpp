// Query to pixels: the client's own screens (ZelkoApp in the viewer the zelko
// program uses, with its image provider) asked by the page's search(q), which
// posts request(text), until the page reports the results and a frame has drawn them with their
// thumbnails. Against the reference service on loopback, beside the floor of the
// same road: a server in this process answering, for each query, the very bytes
// the service gave for it, captured once before anything is timed.
//
// The pixmap cache of QtQuick would turn every repeated query into a cache hit
// that skips the thumbnails' decoding, so the queries go round in turn (no query
// follows itself) and the cache's unused entries are purged before each one: the
// thumbnails still on screen from the query before are all that may be reused,
// as for someone typing one query after another. The client's own resource cache
// (ResourcesMap) skips nothing: every answer stores its resources anew.

#include "benchsupport.h"
#include "cannedrequests.h"
#include "qmlapplicationviewer.h"
#include "querysigning.h"
#include "referenceservice.h"
#include "zelkoimageprovider.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"
#include "zelkotesting.h"

#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHash>
#include <QJSValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// Words people search installed packages for. The service searches this machine's
// own package database, as it does for the client; each word finds something on a
// Debian machine with the client's build dependencies (one that finds nothing here
// is left out, and said so, before anything is timed).
const char *const everyQuery[] = {"qt",     "python",  "compression", "ssl",   "font",  "xml",
                                  "editor", "network", "perl",        "image", "gnu c", "dbus"};

// The floor's server, on a thread of its own as the service has a process of its
// own: answers each request whose body it knows with the bytes captured for it,
// on a kept-alive connection, without Nagle on its side and acknowledging at once
// on the client's (Qt writes a POST's head and body apart).
class CannedServer : public bench::CannedHttpServer
{
public:
    // Request body -> whole HTTP response.
    explicit CannedServer(QHash<QByteArray, QByteArray> answers)
        : m_answers(std::move(answers))
    {
    }

    std::atomic<int> unknown{0};

protected:
    QByteArray answerTo(const QByteArray &body) override
    {
        const auto answer = m_answers.constFind(body);
        if (answer != m_answers.cend())
            return *answer;
        ++unknown;
        return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    }
    void refused() override { ++unknown; }

private:
    const QHash<QByteArray, QByteArray> m_answers;
};

} // namespace

// Follows one search through the page, in milliseconds from search(q):
//   answered  the client has the answer's rows in its model;
//   drawn     a frame whose scene held the new rows with every thumbnail in view
//             Ready has been swapped (below);
//   shown     the page's resultsShown, the moment the client itself reports (its
//             firstResultsShown is the first of these): rows and thumbnails ready,
//             the frame to come.
class Probe : public QObject
{
    Q_OBJECT
public:
    struct Sample
    {
        double answered = 0, drawn = 0, shown = 0;
        int count = 0;
        QString failure;
    };

    Probe(QQuickWindow *window, QObject *page, QObject *client)
        : m_window(window)
        , m_page(page)
        , m_client(client)
        , m_model(qobject_cast<QAbstractItemModel *>(client->property("results").value<QObject *>()))
    {
        connect(m_client, SIGNAL(answered(int)), this, SLOT(onAnswered(int)));
        connect(m_client, SIGNAL(statusChanged()), this, SLOT(onStatusChanged()));
        connect(m_page, SIGNAL(resultsShown(int)), this, SLOT(onResultsShown(int)));
        // "Drawn", honestly under either render loop: readiness is judged on the GUI
        // thread after the items are polished and before the scene is synchronized
        // (afterAnimating); the frame synchronized after that is the first to hold
        // it, and its swap is the moment. With the threaded loop the last two come
        // from the render thread, hence the atomics and the direct connections.
        connect(m_window, &QQuickWindow::afterAnimating, this, &Probe::judgeScene, Qt::DirectConnection);
        connect(
            m_window, &QQuickWindow::afterSynchronizing, this,
            [this] {
                if (m_readyPolished.load())
                    m_readySynced.store(true);
            },
            Qt::DirectConnection);
        connect(
            m_window, &QQuickWindow::frameSwapped, this,
            [this] {
                qint64 none = 0;
                if (m_readySynced.load() && m_drawnNs.compare_exchange_strong(none, m_clock.nsecsElapsed()))
                    QMetaObject::invokeMethod(this, &Probe::finishWhenShownAndDrawn, Qt::QueuedConnection);
            },
            Qt::DirectConnection);
    }

    bool hasModel() const { return m_model != nullptr; }

    Sample run(const QString &query)
    {
        m_sample = Sample();
        m_answeredNs = m_shownNs = 0;
        m_drawnNs.store(0);
        m_readyPolished.store(false);
        m_readySynced.store(false);
        m_waiting = true;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, &m_loop,
                [this] { fail(QStringLiteral("no results shown in 30 s")); });
        watchdog.start(30000);
        m_clock.start();
        QMetaObject::invokeMethod(m_page, "search", Q_ARG(QVariant, query));
        if (m_waiting)
            m_loop.exec();
        m_waiting = false;
        const qint64 drawn = m_drawnNs.load();
        m_sample.answered = m_answeredNs / 1e6;
        m_sample.drawn = drawn / 1e6;
        m_sample.shown = m_shownNs / 1e6;
        return m_sample;
    }

private slots:
    void onAnswered(int count)
    {
        if (!m_waiting)
            return;
        m_answeredNs = m_clock.nsecsElapsed();
        m_sample.count = count;
        // Nothing to draw: the page reports nothing either.
        if (count == 0)
            finish();
    }

    void onStatusChanged()
    {
        if (m_waiting && m_client->property("status").toString() == QLatin1String("error"))
            fail(QStringLiteral("the client failed: ") + m_client->property("message").toString());
    }

    void onResultsShown(int)
    {
        if (!m_waiting || m_answeredNs == 0)
            return;
        m_shownNs = m_clock.nsecsElapsed();
        finishWhenShownAndDrawn();
    }

    // The page reports the results as their thumbnails are ready, before the frame.
    void finishWhenShownAndDrawn()
    {
        if (m_waiting && m_shownNs != 0 && m_drawnNs.load() != 0)
            finish();
    }

private:
    // The rows wholly in view are the first of the new results, in order, each with its
    // thumbnail Ready. Both roads pay alike for this walk, once a frame.
    void judgeScene()
    {
        if (!m_waiting || m_answeredNs == 0 || m_readyPolished.load())
            return;
        const auto *list = m_page->findChild<QQuickItem *>(QStringLiteral("resultsList"));
        const auto *content = list ? list->property("contentItem").value<QQuickItem *>() : nullptr;
        if (!content)
            return;
        const qreal top = list->property("contentY").toReal(), bottom = top + list->height();
        QList<QQuickItem *> rows;
        for (QQuickItem *row : content->childItems())
            if (row->property("thumbnail").isValid() && row->isVisible() && row->y() >= top
                && row->y() + row->height() <= bottom)
                rows.append(row);
        if (rows.isEmpty())
            return;
        std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) { return a->y() < b->y(); });
        const int nameRole = m_model->roleNames().key("name", -1);
        const int ready = 1; // Image.Ready
        for (int i = 0; i < rows.size(); ++i) {
            const auto *thumbnail = rows[i]->property("thumbnail").value<QQuickItem *>();
            if (!thumbnail || thumbnail->property("status").toInt() != ready || i >= m_model->rowCount()
                || rows[i]->property("name").toString() != m_model->index(i, 0).data(nameRole).toString())
                return;
        }
        m_readyPolished.store(true);
    }

    void finish()
    {
        m_waiting = false;
        m_loop.quit();
    }

    void fail(const QString &why)
    {
        if (m_sample.failure.isEmpty())
            m_sample.failure = why;
        finish();
    }

    QQuickWindow *m_window;
    QObject *m_page, *m_client;
    QAbstractItemModel *m_model;
    QEventLoop m_loop;
    QElapsedTimer m_clock;
    Sample m_sample;
    bool m_waiting = false;
    qint64 m_answeredNs = 0, m_shownNs = 0;
    std::atomic<qint64> m_drawnNs{0};
    std::atomic<bool> m_readyPolished{false}, m_readySynced{false};
};

namespace {

// What Protocol.searchQuery sends for the first page, byte for byte: the canned server
// knows a query by its body.
QByteArray searchBody(const QString &query, int pageSize)
{
    return QuerySigning::searchQuery(query, 0, pageSize);
}

// The service's answer to body, or empty when it gave none.
QByteArray capture(QNetworkAccessManager &network, const QString &url, const QByteArray &body)
{
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = network.post(request, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    const bool ok = reply->isFinished() && reply->error() == QNetworkReply::NoError
                    && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
    const QByteArray frame = ok ? reply->readAll() : QByteArray();
    reply->abort();
    reply->deleteLater();
    return frame;
}

} // namespace

int main(int argc, char **argv)
{
    const bool smoke = bench::takeSmokeFlag(argc, argv);
    // Settings (the recent queries) go to a folder of the run's own.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    zelkoRegisterQmlTypes();
    // As the zelko program decides.
    QmlApplicationViewer::chooseSceneGraph();

    // No answer kept: each of the rounds below asks the service to search again, the
    // slower case of the two (a kept answer costs what the canned one does).
    ReferenceService service;
    if (!service.start(0, 0, QString(), {QStringLiteral("--answer-cache"), QStringLiteral("0")})) {
        std::fprintf(stderr, "zelko-service did not start:\n%s\n", qPrintable(service.log()));
        return 1;
    }
    const QString serviceUrl = service.searchUrl();
    ZelkoTesting::setServiceUrl(serviceUrl);

    int status = 0;
    {
        QmlApplicationViewer viewer;
        viewer.engine()->addImageProvider(QStringLiteral("res"),
                                          new ZelkoImageProvider(QQmlImageProviderBase::Image));
        viewer.setOrientation(QmlApplicationViewer::ScreenOrientationAuto);
        viewer.setMainQmlFile(QStringLiteral(ZELKO_QML_DIR "/main.qml"));
        QObject *root = viewer.rootObject();
        QObject *page = root ? root->property("searchPage").value<QObject *>() : nullptr;
        QObject *client = page ? page->property("client").value<QObject *>() : nullptr;
        if (!client) {
            std::fprintf(stderr, "the client's screens did not load\n");
            return 1;
        }
        // The page runs its default query as it opens; the first sample waits for it.
        QEventLoop opened;
        QObject::connect(root, SIGNAL(firstResultsShown(int)), &opened, SLOT(quit()));
        QTimer::singleShot(60000, &opened, &QEventLoop::quit);
        viewer.showExpanded();
        opened.exec();
        if (!root->property("_announced").toBool()) {
            std::fprintf(stderr, "the client never showed its first results\n%s\n",
                         qPrintable(service.log()));
            return 1;
        }
        std::fprintf(stderr, "scene graph: %s\n",
                     viewer.rendererInterface()->graphicsApi() == QSGRendererInterface::Software
                         ? "software"
                         : "hardware");

        // The service's bytes for each query, as it sends them.
        const int pageSize = client->property("pageSize").toInt();
        QNetworkAccessManager network;
        QStringList queries;
        QHash<QByteArray, QByteArray> answers;
        for (const char *q : everyQuery) {
            const QString query = QString::fromLatin1(q);
            const QByteArray body = searchBody(query, pageSize);
            const QByteArray frame = capture(network, serviceUrl, body);
            if (frame.isEmpty()) {
                std::fprintf(stderr, "the service did not answer \"%s\"\n", q);
                return 1;
            }
            answers.insert(body,
                           "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: "
                               + QByteArray::number(frame.size()) + "\r\n\r\n" + frame);
            queries << query;
            if (smoke && queries.size() == 3)
                break;
        }

        QThread serverThread;
        auto *canned = new CannedServer(answers);
        canned->moveToThread(&serverThread);
        QObject::connect(&serverThread, &QThread::finished, canned, &QObject::deleteLater);
        serverThread.start();
        QString cannedUrl;
        QMetaObject::invokeMethod(
            canned,
            [&] {
                if (canned->listen(QHostAddress::LocalHost))
                    cannedUrl = QStringLiteral("http://127.0.0.1:%1/search").arg(canned->serverPort());
            },
            Qt::BlockingQueuedConnection);
        const auto stopServer = [&] {
            serverThread.quit();
            serverThread.wait();
        };
        if (cannedUrl.isEmpty()) {
            std::fprintf(stderr, "the canned server cannot listen\n");
            stopServer();
            return 1;
        }

        Probe probe(&viewer, page, client);
        if (!probe.hasModel()) {
            std::fprintf(stderr, "the client has no results model\n");
            stopServer();
            return 1;
        }
        const QString urls[2] = {serviceUrl, cannedUrl};
        QString failure;
        auto sample = [&](int road, const QString &query) {
            // What the last search left to do once shown (the recent list's write)
            // is done before the next is typed, as it would be for a person typing.
            QCoreApplication::processEvents();
            // Unused thumbnails leave the pixmap cache; the ones on screen stay.
            viewer.releaseResources();
            ZelkoTesting::setServiceUrl(urls[road]);
            Probe::Sample s = probe.run(query);
            if (s.failure.isEmpty() && s.count == 0)
                s.failure = QStringLiteral("no results");
            if (!s.failure.isEmpty() && failure.isEmpty())
                failure =
                    QStringLiteral("\"%1\" (%2): %3").arg(query, road ? "canned" : "service", s.failure);
            return s;
        };

        // Once round on each road untimed: connections opened, code paths warm, and
        // the queries that find nothing here left out.
        QStringList found;
        for (const QString &q : queries) {
            const Probe::Sample s = sample(0, q);
            if (s.count == 0 && s.answered > 0) {
                std::fprintf(stderr, "\"%s\" finds nothing here: left out\n", qPrintable(q));
                failure.clear();
            } else {
                found << q;
            }
        }
        queries = found;
        for (const QString &q : queries)
            sample(1, q);
        if (queries.size() < 2)
            failure = QStringLiteral("fewer than two queries find something here");

        // Rounds of every query in turn, the roads taking turns first, so that a
        // change in the machine's load falls on both alike.
        const int rounds = smoke ? 1 : 10;
        std::vector<double> shown[2], drawn[2], answered[2];
        for (int r = 0; r < rounds && failure.isEmpty(); ++r) {
            for (int k = 0; k < 2 && failure.isEmpty(); ++k) {
                const int road = (r + k) % 2;
                for (const QString &q : queries) {
                    const Probe::Sample s = sample(road, q);
                    if (!s.failure.isEmpty())
                        break;
                    shown[road].push_back(s.shown);
                    drawn[road].push_back(s.drawn);
                    answered[road].push_back(s.answered);
                }
            }
            service.log(); // keeps its pipe drained
        }
        const int unknown = canned->unknown.load();
        stopServer();
        if (failure.isEmpty() && unknown > 0)
            failure = QStringLiteral("the canned server got %1 requests it had no answer for").arg(unknown);

        const bool failed = !failure.isEmpty();
        if (failed) {
            std::fprintf(stderr, "pixelbench: %s\n", qPrintable(failure));
            status = 1;
        }
        auto verdict = [&](bool pass) { return smoke ? "smoke" : failed ? "error" : bench::verdict(pass); };
        auto info = [&] { return smoke ? "smoke" : failed ? "error" : "info"; };
        auto ratio = [](double o, double f) { return bench::fmt("%.2fx", f > 0 ? o / f : 0); };
        const std::string what = "Query to results drawn with thumbnails (" + std::to_string(queries.size())
                                 + " queries x " + std::to_string(rounds) + ", service vs canned frame): ";
        const double o50 = bench::percentile(shown[0], 0.5), f50 = bench::percentile(shown[1], 0.5);
        const double o99 = bench::percentile(shown[0], 0.99), f99 = bench::percentile(shown[1], 0.99);
        bench::row(what + "p50", bench::fmt("%.1f ms", o50), bench::fmt("%.1f ms", f50), ratio(o50, f50),
                   "<= 1.05x", verdict(f50 > 0 && o50 / f50 <= 1.05));
        bench::row(what + "p99", bench::fmt("%.1f ms", o99), bench::fmt("%.1f ms", f99), ratio(o99, f99),
                   "(reported)", info());
        // Where the time goes: the answer in the model, and the first frame that
        // showed the results, before the page's own report of them.
        const double oa = bench::percentile(answered[0], 0.5), fa = bench::percentile(answered[1], 0.5);
        const double od = bench::percentile(drawn[0], 0.5), fd = bench::percentile(drawn[1], 0.5);
        bench::row(what + "p50 to the rows in the model", bench::fmt("%.1f ms", oa),
                   bench::fmt("%.1f ms", fa), ratio(oa, fa), "(reported)", info());
        bench::row(what + "p50 to the first frame drawn with them", bench::fmt("%.1f ms", od),
                   bench::fmt("%.1f ms", fd), ratio(od, fd), "(reported)", info());
    }
    ZelkoQtRoot::destroy();
    return status;
}

#include "pixelbench.moc"
