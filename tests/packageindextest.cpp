#include "indexsource.h"
#include "packageindex.h"
#include "ranking.h"
#include "searchindex.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <map>
#include <thread>

// The index against a plain scan of the same packages (its oracle): for every query the
// same packages in the same order, from the index in memory and from a file.
class PackageIndexTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sameAsScan_data();
    void sameAsScan();
    void fileKeepsThePackages_data();
    void fileKeepsThePackages();
    void archiveStanzas();
    void concurrentSearches();
    void reuseOrRebuild_data();
    void reuseOrRebuild();
    void damagedIndexFile_data();
    void damagedIndexFile();

private:
    struct Data
    {
        PackageIndex plain, memory, file;
    };
    std::map<QString, Data> m_data;
    QTemporaryDir m_dir;
};

namespace {

QStringList names(const PackageIndex &index, const QVector<int> &hits)
{
    QStringList out;
    for (int i : hits)
        out << index.at(i).name;
    return out;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void PackageIndexTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QList<QPair<QString, PackageIndex>> sources{
        {"status fixture", PackageIndex::fromStatusText(readFile(ZELKO_TEST_DATA "/dpkg-status"))},
        {"packages fixture", PackageIndex::fromPackagesText(readFile(ZELKO_TEST_DATA "/packages"))},
        // The machine's own database: hundreds of packages with real descriptions.
        {"installed", PackageIndex::fromStatusText(readFile("/var/lib/dpkg/status"))},
    };
    for (const auto &s : sources) {
        QVERIFY2(s.second.size() > 0, qPrintable(s.first));
        Data d;
        d.plain = s.second;
        d.memory = s.second;
        QString error;
        QVERIFY2(d.memory.attachIndex(&error), qPrintable(error));
        const QString path = m_dir.filePath(QString(s.first).replace(' ', '-') + ".index");
        QVERIFY2(s.second.writeIndex(path, s.first, &error), qPrintable(error));
        QString source;
        d.file = PackageIndex::openIndex(path, &source, &error);
        QVERIFY2(d.file.isIndexed(), qPrintable(error));
        QCOMPARE(source, s.first);
        m_data[s.first] = d;
    }
}

void PackageIndexTest::sameAsScan_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("query");
    const QStringList queries{
        // empty and blank: every package
        "", "   ",
        // shorter than a trigram, alone and beside longer words
        "z", "x", "qt", "QT", "qt lib", "lib qt 5", "a b c",
        // single words, case folded
        "zlib", "ZLIB", "zlib1g", "Zlib1G", "gzip", "lib", "library", "compression library", "qt5", "the",
        "and", "for", "dev", "libs", "core module",
        // multi-word with short ones mixed in
        "zlib gz", "lib gz", "gzip ZLIB", "pigz fast", "a zlib", "implementation of gzip",
        // words a query language would read as syntax
        "\"", "\"\"\"", "\"zlib\"", "zl\"ib", "\"fast\"", "*", "zli*", "zlib*", "a:b", "name:zlib", "f:", "(",
        "(zlib)", "(g)", "-", "-zlib", "-h", "^", "^zlib", "^i", "zlib^", "AND", "and", "zlib AND gzip", "OR",
        "zlib OR gzip", "NOT zlib", "NEAR", "NEAR(zlib gzip)", "NEAR(d", "near", "{name}: zlib", "'zlib'",
        "zlib;", "%", "zl%b", "_", "\\", "zlib'); DROP TABLE fts; --",
        // beyond ASCII: folding, final sigma, astral characters
        "straße", "STRASSE", "STRAßE", "école", "ÉCOLE", "ǆungla", "Ǆungla", "σίσυφος", "ΣΊΣΥΦΟΣ", "für",
        "🙂", "🙂🙂", "🙂🙂🙂", "glyphs 🙂", "☃", "é",
        // what no package has
        "xyzzy", "zlib xyzzy", "qqq qq q", "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz",
        // control characters and broken UTF-16 from JSON escapes
        QString("ab") + QChar(0) + "c", QString(QChar(0xdc00)) + "ab", QString(QChar(0xd83d)) + "xyz",
        "zlib\tgzip",
        // as long as a query may be
        QString("lib ").repeated(64), QString("compression").repeated(23).left(256)};
    for (const auto &d : m_data) {
        for (const QString &q : queries)
            QTest::newRow(qPrintable(d.first + ": " + q)) << d.first << q;
    }
    // Pieces of real names and summaries, at every length the index treats apart.
    const PackageIndex &installed = m_data.at("installed").plain;
    for (int i = 0; i < installed.size(); i += qMax(1, installed.size() / 25)) {
        const Package p = installed.at(i);
        for (const QString &q : {p.name.left(2), p.name.mid(1, 3), p.name, p.summary.section(' ', 0, 1),
                                 p.summary.section(' ', -1)})
            QTest::newRow(qPrintable("installed: " + q)) << "installed" << q;
    }
}

void PackageIndexTest::sameAsScan()
{
    QFETCH(QString, data);
    QFETCH(QString, query);
    const Data &d = m_data.at(data);
    const QStringList expected = names(d.plain, d.plain.scan(query));
    QCOMPARE(names(d.plain, d.plain.search(query)), expected);
    QCOMPARE(names(d.memory, d.memory.search(query)), expected);
    QCOMPARE(names(d.file, d.file.search(query)), expected);
    // The byte matching of every package against QString's, the way ranking takes
    // for words without UTF-8: the scan shares the former, so cannot check it.
    const Ranking::Words bytes(Ranking::words(query));
    Ranking::Words strings = bytes;
    strings.valid = false;
    for (int i = 0; i < d.plain.size(); ++i)
        QCOMPARE(Ranking::rankOf(d.plain.list(), bytes, i), Ranking::rankOf(d.plain.list(), strings, i));
    // A page alone, ties included, where the whole answer would have put it.
    const int n = expected.size();
    for (const auto &window : {qMakePair(0, 1), qMakePair(0, 10), qMakePair(3, 7),
                               qMakePair(qMax(0, n - 1), 5), qMakePair(n, 5), qMakePair(n + 50, 50)}) {
        int total = -1;
        const QStringList page = names(d.file, d.file.search(query, window.first, window.second, &total));
        QCOMPARE(page, expected.mid(window.first, window.second));
        QCOMPARE(total, n);
        QCOMPARE(names(d.plain, d.plain.search(query, window.first, window.second, nullptr)), page);
    }
}

void PackageIndexTest::fileKeepsThePackages_data()
{
    QTest::addColumn<QString>("data");
    for (const auto &d : m_data)
        QTest::newRow(qPrintable(d.first)) << d.first;
}

void PackageIndexTest::fileKeepsThePackages()
{
    QFETCH(QString, data);
    const Data &d = m_data.at(data);
    QCOMPARE(d.file.size(), d.plain.size());
    for (int i = 0; i < d.plain.size(); ++i) {
        // The file's list keeps the details in the file.
        const Package a = d.plain.at(i);
        Package b;
        QVERIFY(d.file.details(i, &b));
        QCOMPARE(d.file.at(i).description, QString());
        QCOMPARE(b.name, a.name);
        QCOMPARE(b.version, a.version);
        QCOMPARE(b.architecture, a.architecture);
        QCOMPARE(b.section, a.section);
        QCOMPARE(b.maintainer, a.maintainer);
        QCOMPARE(b.homepage, a.homepage);
        QCOMPARE(b.depends, a.depends);
        QCOMPARE(b.installedSizeKiB, a.installedSizeKiB);
        QCOMPARE(b.summary, a.summary);
        QCOMPARE(b.description, a.description);
        // Found by name even where "name:arch" sorts apart from "name".
        QCOMPARE(d.plain.find(a.name), i);
        QCOMPARE(d.file.find(a.name), i);
    }
}

void PackageIndexTest::archiveStanzas()
{
    const PackageIndex &index = m_data.at("packages fixture").file;
    // No Status field, yet every named stanza counts; a name listed for two
    // architectures gets both, the same architecture twice only its first.
    QVERIFY(index.find("zlib1g:amd64") >= 0);
    QVERIFY(index.find("zlib1g:arm64") >= 0);
    QCOMPARE(index.find("zlib1g"), -1);
    QCOMPARE(index.at(index.find("zlib1g:amd64")).summary, QStringLiteral("compression library - runtime"));
    QCOMPARE(index.at(index.find("zlib1g:arm64")).installedSizeKiB, 170);
    Package pigz;
    QVERIFY(index.details(index.find("pigz"), &pigz));
    QCOMPARE(pigz.description, QString());
    QCOMPARE(index.size(), 11);
    QCOMPARE(names(index, index.search("qt")).mid(0, 2), QStringList({"qt", "qtbase5-dev"}));
}

void PackageIndexTest::concurrentSearches()
{
    // Each thread borrows connections of its own; answers must not mix.
    const PackageIndex &index = m_data.at("installed").file;
    const QStringList queries{"lib", "zlib", "python", "qt", "the", "xyzzy", "dev lib", "gnu"};
    QVector<QVector<int>> expected;
    for (const QString &q : queries)
        expected << index.scan(q);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                const int k = (t + round) % queries.size();
                if (index.search(queries.at(k)) != expected.at(k))
                    ++wrong;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QCOMPARE(wrong.load(), 0);
}

void PackageIndexTest::reuseOrRebuild_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("note");
    QTest::addColumn<int>("size");
    QTest::newRow("nothing changed") << "none"
                                     << "index %1" << 11;
    QTest::newRow("source newer") << "touch"
                                  << "index %1, built now" << 11;
    QTest::newRow("other source") << "other"
                                  << "index %1, built now" << 11;
    QTest::newRow("source gone") << "remove"
                                 << "index %1" << 11;
    QTest::newRow("no index file") << "no index"
                                   << "index %1, built now" << 11;
    // Size 0: refused, the error saying the note.
    QTest::newRow("index folder a file") << "folder a file"
                                         << "cannot create a file beside %1: Not a directory" << 0;
    QTest::newRow("dpkg-query prints a stanza and fails")
        << "dpkg-query fails"
        << "dpkg-query --status failed with exit status 1" << 0;
}

void PackageIndexTest::reuseOrRebuild()
{
    QFETCH(QString, change);
    QFETCH(QString, note);
    QFETCH(int, size);
    QTemporaryDir dir;
    const QString list = dir.filePath("Packages");
    QString indexFile = dir.filePath("index");
    QVERIFY(QFile::copy(ZELKO_TEST_DATA "/packages", list));
    IndexSource source{IndexSource::PackagesFile, list};
    QString got, error;
    QVERIFY2(loadPackageIndex(source, indexFile, &got, &error).isIndexed(), qPrintable(error));
    QCOMPARE(got, QStringLiteral("index %1, built now").arg(indexFile));

    // File times from the past, so "newer" never hangs on the clock's resolution.
    QFile index(indexFile), listFile(list);
    const QDateTime past = QDateTime::currentDateTime().addSecs(-3600);
    QVERIFY(index.open(QIODevice::ReadWrite) && index.setFileTime(past, QFileDevice::FileModificationTime));
    index.close();
    QVERIFY(listFile.open(QIODevice::ReadWrite)
            && listFile.setFileTime(past.addSecs(-60), QFileDevice::FileModificationTime));
    listFile.close();
    const QByteArray path = qgetenv("PATH");
    if (change == "touch") {
        QVERIFY(listFile.open(QIODevice::ReadWrite)
                && listFile.setFileTime(past.addSecs(60), QFileDevice::FileModificationTime));
        listFile.close();
    } else if (change == "other") {
        // The same list under another name is another source.
        QVERIFY(QFile::rename(list, dir.filePath("Packages.other")));
        source.path = dir.filePath("Packages.other");
    } else if (change == "remove") {
        QVERIFY(QFile::remove(list));
    } else if (change == "no index") {
        QVERIFY(QFile::remove(indexFile));
    } else if (change == "folder a file") {
        // Not writable even by root, whom no mode keeps out.
        indexFile = list + "/index";
    } else if (change == "dpkg-query fails") {
        source.kind = IndexSource::Installed;
        QFile fake(dir.filePath("dpkg-query"));
        QVERIFY(fake.open(QIODevice::WriteOnly) && fake.write("#!/bin/sh\necho 'Package: x'\nexit 1\n") > 0);
        fake.close();
        QVERIFY(fake.setPermissions(fake.permissions() | QFileDevice::ExeOwner));
        qputenv("PATH", QFile::encodeName(dir.path()) + ':' + path);
    }
    got.clear();
    const PackageIndex loaded = loadPackageIndex(source, indexFile, &got, &error);
    qputenv("PATH", path);
    if (size == 0) {
        QVERIFY(!loaded.isIndexed());
        QCOMPARE(error, QString(note).replace("%1", indexFile));
        return;
    }
    QVERIFY2(loaded.isIndexed(), qPrintable(error));
    QCOMPARE(got, note.arg(indexFile));
    QCOMPARE(loaded.size(), size);
    // Nothing left behind by the builder.
    QCOMPARE(QDir(dir.path()).entryList({"index.*"}, QDir::Files), QStringList());
}

void PackageIndexTest::damagedIndexFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("withSource");
    QTest::newRow("not a database, source there") << QByteArray("not a database\n") << true;
    QTest::newRow("not a database, no source") << QByteArray("not a database\n") << false;
    QTest::newRow("empty, no source") << QByteArray() << false;
    QByteArray header("SQLite format 3");
    header.append('\0');
    QTest::newRow("a header only, no source") << header + QByteArray(84, '\xff') << false;
    const QByteArray real = readFile(m_dir.filePath("packages-fixture.index"));
    QTest::newRow("cut short, no source") << real.left(real.size() / 2) << false;
    QByteArray scribbled = real;
    for (int i = 4096; i < scribbled.size(); i += 97)
        scribbled[i] = char(i * 31);
    QTest::newRow("scribbled over, no source") << scribbled << false;
}

void PackageIndexTest::damagedIndexFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, withSource);
    QTemporaryDir dir;
    const QString indexFile = dir.filePath("index");
    QFile file(indexFile);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    IndexSource source{IndexSource::PackagesFile,
                       withSource ? QString(ZELKO_TEST_DATA "/packages") : dir.filePath("gone")};
    QString note, error;
    const PackageIndex index = loadPackageIndex(source, indexFile, &note, &error);
    if (withSource) {
        // Rebuilt from the source in its place.
        QVERIFY2(index.isIndexed(), qPrintable(error));
        QCOMPARE(index.size(), 11);
        return;
    }
    // A clear refusal, or, when the damage missed what is read at start, answers
    // the scan confirms (a damaged index may lose hits, never invent them): never a crash.
    if (!index.isIndexed()) {
        QVERIFY(!error.isEmpty());
        return;
    }
    for (const char *q : {"zlib", "lib", "qt", "\"", ""}) {
        const QVector<int> all = index.scan(q);
        for (int i : index.search(q))
            QVERIFY(all.contains(i));
    }
}

QTEST_GUILESS_MAIN(PackageIndexTest)
#include "packageindextest.moc"
