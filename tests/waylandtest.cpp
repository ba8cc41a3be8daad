#include "drivenclient.h"
#include "referenceservice.h"
#include "skips.h"
#include "thumbnailcheck.h"
#include "weston.h"

#include <QtTest>

// The client on a handset's window system: the real client under Wayland, as a headless
// weston composes it, against the real service.
class WaylandTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void searchRoad();
    void orientation_data();
    void orientation();

private:
    ReferenceService m_service;
};

// How far the compositor's picture may be from the offscreen one. The two rasterise glyph
// edges differently (OpenGL's distance fields under Wayland, the software renderer's outlines
// offscreen), so they are compared as averages of 8x8-pixel blocks: at most 0.1% of the
// blocks may differ by more than 24 of 255 in a channel. A missing or shifted thumbnail, row
// or label moves far more blocks than that.
static const int block = 8;
static const int channelStep = 24;
static const double differingBound = 0.001;

static double differingShare(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 1;
    const int columns = a.width() / block, rows = a.height() / block;
    int differing = 0;
    for (int by = 0; by < rows; ++by)
        for (int bx = 0; bx < columns; ++bx) {
            int sum[2][3] = {};
            for (int y = by * block; y < (by + 1) * block; ++y)
                for (int x = bx * block; x < (bx + 1) * block; ++x)
                    for (int i = 0; i < 2; ++i) {
                        const QRgb p = (i ? b : a).pixel(x, y);
                        sum[i][0] += qRed(p);
                        sum[i][1] += qGreen(p);
                        sum[i][2] += qBlue(p);
                    }
            for (int c = 0; c < 3; ++c)
                if (qAbs(sum[0][c] - sum[1][c]) > channelStep * block * block) {
                    ++differing;
                    break;
                }
        }
    return double(differing) / (columns * rows);
}

void WaylandTest::initTestCase()
{
    if (Weston::binary().isEmpty())
        ZELKO_SKIP_WITHOUT_TOOL("weston (scripts/deps.sh installs it)");
    QVERIFY2(m_service.start(), qPrintable(m_service.log()));
}

// To the first page of results with their thumbnails, as the compositor shows it; then the
// same page drawn offscreen, which it must match.
void WaylandTest::searchRoad()
{
    Weston weston;
    QVERIFY2(weston.start(QSize(480, 800)), qPrintable(weston.error()));
    DrivenClient wayland;
    QVERIFY(wayland.isValid());
    wayland.start(m_service.searchUrl(), {QStringLiteral("results")},
                  [&weston](QProcessEnvironment &env) { weston.addClientEnvironment(env); });
    const QJsonObject report = wayland.next();
    QVERIFY2(!report.isEmpty(), qPrintable(wayland.log()));
    const QJsonArray rects = report.value("thumbnails").toArray();
    QVERIFY2(rects.size() >= 3, qPrintable(wayland.log()));
    // The compositor may show the last frame a moment after the client drew it.
    QImage composed;
    QString mismatch;
    const bool shown = QTest::qWaitFor(
        [&] {
            composed = weston.screenshot();
            mismatch = compareThumbnails(composed, rects) + weston.error();
            return mismatch.isEmpty();
        },
        20000);
    QVERIFY2(shown, qPrintable(mismatch));
    wayland.proceed();
    QVERIFY2(wayland.finish(), qPrintable(wayland.log()));

    DrivenClient offscreen;
    QVERIFY(offscreen.isValid());
    const QString file = QDir(offscreen.root()).filePath(QStringLiteral("offscreen.png"));
    offscreen.start(m_service.searchUrl(), {QStringLiteral("results"), QStringLiteral("picture")},
                    DrivenClient::Adjust(), {file, QStringLiteral("480x800")});
    for (int step = 0; step < 2; ++step) {
        QVERIFY2(!offscreen.next().isEmpty(), qPrintable(offscreen.log()));
        offscreen.proceed();
    }
    QVERIFY2(offscreen.finish(), qPrintable(offscreen.log()));
    const QImage drawn = QImage(file).convertToFormat(QImage::Format_RGB32);
    const double share = differingShare(composed, drawn);
    qInfo("blocks differing between Wayland and offscreen: %.3f%%", share * 100);
    if (share > differingBound) {
        composed.save(QStringLiteral("waylandtest-wayland.png"));
        drawn.save(QStringLiteral("waylandtest-offscreen.png"));
    }
    QVERIFY2(share <= differingBound,
             qPrintable(QStringLiteral("%1% of blocks differ (pictures kept as waylandtest-wayland.png and "
                                       "waylandtest-offscreen.png)")
                            .arg(share * 100)));
}

void WaylandTest::orientation_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("content");
    // A portrait panel mounted a quarter turn round (weston's rotate-90), which Qt reports
    // as an inverted landscape screen.
    QTest::newRow("auto follows the screen") << 2 << int(Qt::InvertedLandscapeOrientation);
    QTest::newRow("locked portrait") << 0 << int(Qt::PortraitOrientation);
    QTest::newRow("locked landscape") << 1 << int(Qt::LandscapeOrientation);
}

void WaylandTest::orientation()
{
    QFETCH(int, mode);
    QFETCH(int, content);
    Weston weston;
    QVERIFY2(weston.start(QSize(480, 800), 1, QStringLiteral("rotate-90")), qPrintable(weston.error()));
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    weston.addClientEnvironment(env);
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(ZELKO_ORIENTATION_PROBE), {QString::number(mode)});
    QVERIFY2(probe.waitForFinished(60000), "the probe did not draw");
    QCOMPARE(QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed(),
             QStringLiteral("screen %1 content %2").arg(int(Qt::InvertedLandscapeOrientation)).arg(content));
}

QTEST_GUILESS_MAIN(WaylandTest)
#include "waylandtest.moc"
