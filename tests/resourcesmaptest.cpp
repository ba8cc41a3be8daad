#include "resourcesmap.h"
#include "zelkoimageprovider.h"
#include "testimages.h"
#include "zelkoqtroot.h"

#include <QThread>
#include <QtTest>

#include <future>

class ResourcesMapTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();
    void eviction_data();
    void eviction();
    void replaceKeepsCount();
    void missingAndRemoved();
    void emptyKeyIsItsOwn();
    void dataIsShared();
    void images_data();
    void images();
    void readerThreadWhileStoring();
    void loaderThreadReadKeepsEntry_data();
    void loaderThreadReadKeepsEntry();
    void loaderThreadMakesNoCache();

private:
    ResourcesMap *cache() { return ResourcesMap::getInstance(); }
};

static QString key(int i)
{
    return QStringLiteral("k%1").arg(i);
}

// Runs work on a thread of its own and hands its result back through a future: the
// hand-over is one ThreadSanitizer sees, which QThread::wait (Qt is not instrumented) is not.
template <typename Work> static auto onOtherThread(Work work)
{
    return std::async(std::launch::async, work).get();
}

void ResourcesMapTest::init()
{
    // A fresh cache per case: the instance goes with the root.
    ZelkoQtRoot::destroy();
}

void ResourcesMapTest::cleanupTestCase()
{
    ZelkoQtRoot::destroy();
}

void ResourcesMapTest::eviction_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<QList<int>>("reads");
    QTest::addColumn<QList<int>>("gone");
    // The stores after the reads as the decoder hands them over: slices of one frame, one call.
    QTest::addColumn<bool>("frame");
    QTest::newRow("100 all kept") << 100 << QList<int>{} << QList<int>{} << false;
    QTest::newRow("101st drops the oldest") << 101 << QList<int>{} << QList<int>{0} << false;
    QTest::newRow("a read protects") << 101 << QList<int>{0} << QList<int>{1} << false;
    QTest::newRow("reads in order") << 103 << QList<int>{2, 0, 1} << QList<int>{3, 4, 5} << false;
    QTest::newRow("missing read changes nothing") << 101 << QList<int>{500} << QList<int>{0} << false;
    QTest::newRow("many overflows") << 350 << QList<int>{} << QList<int>{0, 100, 249} << false;
    QTest::newRow("frame: reads in order") << 103 << QList<int>{2, 0, 1} << QList<int>{3, 4, 5} << true;
    QTest::newRow("frame larger than the cache") << 350 << QList<int>{} << QList<int>{0, 100, 249} << true;
}

void ResourcesMapTest::eviction()
{
    QFETCH(int, stored);
    QFETCH(QList<int>, reads);
    QFETCH(QList<int>, gone);
    QFETCH(bool, frame);
    const int fill = qMin(stored, ResourcesMap::Capacity);
    for (int i = 0; i < fill; ++i)
        cache()->setData(key(i), QByteArray::number(i));
    for (int r : reads)
        cache()->data(key(r));
    if (frame) {
        QByteArray bytes;
        QVector<QPair<int, int>> spans;
        for (int i = fill; i < stored; ++i) {
            const QByteArray value = QByteArray::number(i);
            spans.append({bytes.size(), value.size()});
            bytes += "--" + value;
        }
        QVector<ZelkoFrameReport::Resource> resources;
        for (int i = fill; i < stored; ++i) {
            const QPair<int, int> span = spans.at(i - fill);
            resources.append({key(i), 1, ByteSlice(bytes, span.first + 2, span.second)});
        }
        cache()->store(std::move(resources));
    } else {
        for (int i = fill; i < stored; ++i)
            cache()->setData(key(i), QByteArray::number(i));
    }

    QCOMPARE(cache()->count(), fill);
    for (int g : gone)
        QVERIFY2(cache()->data(key(g)).isEmpty(), qPrintable(key(g)));
    for (int r : reads)
        if (r < stored)
            QCOMPARE(cache()->data(key(r)), QByteArray::number(r));
    QCOMPARE(cache()->data(key(stored - 1)), QByteArray::number(stored - 1));
}

void ResourcesMapTest::replaceKeepsCount()
{
    for (int i = 0; i < 100; ++i)
        cache()->setData(key(i), "old");
    cache()->setData(key(0), "new"); // now the most recent
    QCOMPARE(cache()->count(), 100);
    cache()->setData(key(100), "x"); // drops k1, not k0
    QCOMPARE(cache()->data(key(0)), QByteArray("new"));
    QVERIFY(cache()->data(key(1)).isEmpty());
}

void ResourcesMapTest::missingAndRemoved()
{
    cache()->setData(QStringLiteral("a"), "1");
    cache()->setData(QStringLiteral("b"), "2");
    cache()->remove(QStringLiteral("nope"));
    QCOMPARE(cache()->count(), 2);
    cache()->remove(QStringLiteral("a"));
    QCOMPARE(cache()->count(), 1);
    QVERIFY(cache()->data(QStringLiteral("a")).isEmpty());
    // The ring stays whole after a removal in the middle of use.
    for (int i = 0; i < 150; ++i)
        cache()->setData(key(i), "v");
    QCOMPARE(cache()->count(), 100);
    cache()->setData(QStringLiteral("empty"), QByteArray());
    QCOMPARE(cache()->count(), 100);
    QVERIFY(cache()->data(QStringLiteral("empty")).isEmpty());
}

void ResourcesMapTest::emptyKeyIsItsOwn()
{
    // The sentinel has an empty key too, but is never found.
    QVERIFY(cache()->data(QString()).isEmpty());
    QCOMPARE(cache()->count(), 0);
    cache()->setData(QString(), "blank");
    QCOMPARE(cache()->data(QString()), QByteArray("blank"));
    QCOMPARE(cache()->count(), 1);
    cache()->remove(QString());
    QCOMPARE(cache()->count(), 0);
}

void ResourcesMapTest::dataIsShared()
{
    QByteArray bytes(1 << 20, 'x');
    cache()->setData(QStringLiteral("big"), bytes);
    const QByteArray out = cache()->data(QStringLiteral("big"));
    QCOMPARE(out.constData(), bytes.constData());
    bytes[0] = 'y'; // detaches the caller's copy only
    QCOMPARE(cache()->data(QStringLiteral("big")).at(0), 'x');
}

void ResourcesMapTest::images_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QSize>("size");
    QTest::newRow("png at its own size") << pngBytes(37, 23, QColor(200, 0, 0)) << true << QSize(37, 23);
    QTest::newRow("undecodable bytes") << QByteArray("not an image") << true << QSize(0, 0);
    QTest::newRow("missing id") << QByteArray() << false << QSize(-5, -5);
    QTest::newRow("empty data") << QByteArray() << true << QSize(-5, -5);
}

void ResourcesMapTest::images()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, stored);
    QFETCH(QSize, size);
    if (stored)
        cache()->setData(QStringLiteral("img"), bytes);
    cache()->setData(QStringLiteral("other"), "x");
    ZelkoImageProvider provider(QQmlImageProviderBase::Image);
    QSize reported(-5, -5);
    const QImage image = provider.requestImage(QStringLiteral("img"), &reported, QSize(8, 8));
    QCOMPARE(reported, size);
    QCOMPARE(image.isNull(), size.isEmpty());
    if (!image.isNull())
        QCOMPARE(image.size(), size);
    if (stored && bytes.size() > 20) {
        QCOMPARE(image.pixel(0, 0), qRgb(200, 0, 0));
        // The request made it the most recent: 99 new entries drop "other", not "img".
        for (int i = 0; i < 99; ++i)
            cache()->setData(key(i), "v");
        QVERIFY(!cache()->data(QStringLiteral("img")).isEmpty());
        QVERIFY(cache()->data(QStringLiteral("other")).isEmpty());
    }
}

void ResourcesMapTest::readerThreadWhileStoring()
{
    // QtQuick's image thread reads while the GUI thread stores and evicts.
    const QByteArray image = pngBytes(4, 4, Qt::blue);
    cache()->setData(QStringLiteral("hot"), image);
    ZelkoImageProvider provider(QQmlImageProviderBase::Image);
    QAtomicInt decoded = 0;
    QAtomicInt stop = 0;
    auto reader = std::async(std::launch::async, [&] {
        while (!stop.loadAcquire()) {
            QSize size;
            if (!provider.requestImage(QStringLiteral("hot"), &size, QSize()).isNull())
                decoded.fetchAndAddRelaxed(1);
            provider.requestImage(key(int(decoded.loadRelaxed()) % 300), &size, QSize());
        }
    });
    // Stores go on until the reader has decoded at least once: on a busy machine the reader
    // thread may not even have started within the first 20000 rounds.
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 20000 || (decoded.loadRelaxed() == 0 && clock.elapsed() < 30000); ++round) {
        cache()->setData(key(round % 300), QByteArray::number(round));
        if (round % 50 == 0)
            cache()->setData(QStringLiteral("hot"), image);
        if (round % 7 == 0)
            cache()->remove(key((round + 3) % 300));
    }
    stop.storeRelease(1);
    QVERIFY(reader.wait_for(std::chrono::seconds(30)) == std::future_status::ready);
    QVERIFY(decoded.loadRelaxed() > 0);
    QVERIFY(cache()->count() <= ResourcesMap::Capacity);
}

void ResourcesMapTest::loaderThreadReadKeepsEntry_data()
{
    QTest::addColumn<QString>("requested");
    QTest::addColumn<int>("added");
    QTest::addColumn<QList<int>>("gone");
    QTest::addColumn<QList<int>>("kept");
    QTest::newRow("oldest entry") << key(0) << 1 << QList<int>{1} << QList<int>{0, 2};
    QTest::newRow("middle entry") << key(50) << 51 << QList<int>{0, 49, 51} << QList<int>{50, 52};
    QTest::newRow("missing id changes nothing")
        << QStringLiteral("absent") << 1 << QList<int>{0} << QList<int>{1};
}

void ResourcesMapTest::loaderThreadReadKeepsEntry()
{
    // An image QtQuick loads asynchronously is read on its loader thread; that read must count
    // as a use, or the image on screen longest is the first to go.
    QFETCH(QString, requested);
    QFETCH(int, added);
    QFETCH(QList<int>, gone);
    QFETCH(QList<int>, kept);
    const QByteArray image = pngBytes(3, 2, Qt::green);
    for (int i = 0; i < ResourcesMap::Capacity; ++i)
        cache()->setData(key(i), image);
    ZelkoImageProvider provider(QQmlImageProviderBase::Image);
    const auto [loaderThread, loaded] = onOtherThread([&] {
        return std::make_pair(QThread::currentThread() != QCoreApplication::instance()->thread(),
                              provider.requestImage(requested, nullptr, QSize()));
    });
    QVERIFY(loaderThread);
    QCOMPARE(loaded.size(), requested.startsWith('k') ? QSize(3, 2) : QSize(0, 0));

    for (int i = 0; i < added; ++i)
        cache()->setData(QStringLiteral("new%1").arg(i), "x");
    QCOMPARE(cache()->count(), ResourcesMap::Capacity);
    for (int g : gone)
        QVERIFY2(cache()->data(key(g)).isEmpty(), qPrintable(key(g) + " kept"));
    for (int k : kept)
        QVERIFY2(cache()->data(key(k)) == image, qPrintable(key(k) + " gone"));
}

void ResourcesMapTest::loaderThreadMakesNoCache()
{
    // Before any frame made the cache, an image request from the loader thread finds nothing
    // and makes nothing: the root and its children belong to the GUI thread.
    QVERIFY(!ZelkoQtRoot::exists());
    ZelkoImageProvider provider(QQmlImageProviderBase::Image);
    const QImage loaded = onOtherThread([&] { return provider.requestImage(key(0), nullptr, QSize()); });
    QVERIFY(loaded.isNull());
    QVERIFY(!ZelkoQtRoot::exists());
    QCOMPARE(cache()->thread(), QCoreApplication::instance()->thread());
}

QTEST_GUILESS_MAIN(ResourcesMapTest)
#include "resourcesmaptest.moc"
