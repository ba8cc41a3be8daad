#include "searchindex.h"

#include "packagelist.h"

#include <QFile>
#include <QHash>
#include <QSysInfo>
#include <QtEndian>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUrl>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

const char *const Format = "zelko-search-index 3";
const char *const GramSql = "SELECT ids FROM grams WHERE key = ?1";
// Without reading the list: SQLite finds a blob's length in its row header.
const char *const LengthSql = "SELECT length(ids) FROM grams WHERE key = ?1";

// Bounds on the row reads of one query, whatever its words: with at most Ranking::MaxWords
// words, at most MaxTrigramsPerWord each, and at most MaxListsRead lists read, of which no
// more than 64,000 entries each (the archive's broadest gram).
constexpr int MaxTrigramsPerWord = 12;
constexpr size_t MaxListsRead = 12;
// A list this many times longer than the candidates left is not read: the ranking checks
// every word of each candidate anyway, sooner than the list would be read through.
constexpr qint64 SkipListRatio = 64;

// One or two code points as one number: the key of their row in the grams table.
qint64 gramKey(uint first, qint64 second)
{
    return (qint64(first) << 22) | (second + 1);
}

// Three code points (21 bits each) as one negative number, apart from the keys above.
qint64 trigramKey(uint first, uint second, uint third)
{
    return -1 - ((qint64(first) << 42) | (qint64(second) << 21) | third);
}

// The keys a word of points is looked up by: its own for one or two code points, its
// trigrams for more.
std::vector<qint64> wordKeys(const QVector<uint> &points)
{
    if (points.size() < 3)
        return {gramKey(points.at(0), points.size() > 1 ? qint64(points.at(1)) : -1)};
    std::vector<qint64> keys;
    // A long word is looked up by trigrams spread over it, the first and the last among
    // them: a few narrow the candidates as well as all would, and each costs a row read.
    const int trigrams = points.size() - 2;
    const int used = std::min(trigrams, MaxTrigramsPerWord);
    for (int n = 0; n < used; ++n) {
        const int k = used == 1 ? 0 : int(qint64(n) * (trigrams - 1) / (used - 1));
        keys.push_back(trigramKey(points.at(k), points.at(k + 1), points.at(k + 2)));
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

// The grams of one, two and three code points in text.
void addGrams(const QString &text, std::vector<qint64> *keys)
{
    const QVector<uint> points = text.toUcs4();
    for (int k = 0; k < points.size(); ++k) {
        keys->push_back(gramKey(points.at(k), -1));
        if (k + 1 < points.size())
            keys->push_back(gramKey(points.at(k), points.at(k + 1)));
        if (k + 2 < points.size())
            keys->push_back(trigramKey(points.at(k), points.at(k + 1), points.at(k + 2)));
    }
}

// The entries of a posting list, little-endian 32-bit positions, into ids below size.
void firstList(const uchar *data, int count, int size, QVector<int> *ids)
{
    ids->resize(count);
    if (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        if (count > 0)
            std::memcpy(ids->data(), data, size_t(count) * 4);
    } else {
        for (int n = 0; n < count; ++n)
            (*ids)[n] = int(qFromLittleEndian<quint32>(data + 4 * n));
    }
    // A damaged file must not break the intersections or the ranking: ids strictly
    // ascending, none negative or past the packages.
    const auto below = [](int a, int b) { return quint32(a) < quint32(b); };
    const auto notAbove = [](int a, int b) { return quint32(a) >= quint32(b); };
    if (std::adjacent_find(ids->begin(), ids->end(), notAbove) != ids->end()) {
        std::sort(ids->begin(), ids->end(), below);
        ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
    }
    ids->erase(std::lower_bound(ids->begin(), ids->end(), size, below), ids->end());
}

// Keeps the ids the posting list also holds. A list far longer than the ids is not
// read through: each id is found by a galloping search from where the previous one
// was. Entries of a damaged list out of order can only lose ids.
void intersect(const uchar *data, int count, QVector<int> *ids)
{
    auto entry = [data](int n) { return qFromLittleEndian<quint32>(data + 4 * n); };
    // Kept ids are written over those already read.
    int *const begin = ids->data();
    const int *const end = begin + ids->size();
    int *kept = begin;
    int at = 0;
    const bool gallop = count / 16 >= ids->size();
    for (const int *id = begin; id != end && at < count; ++id) {
        const quint32 wanted = quint32(*id);
        if (gallop) {
            int step = 1, high = at;
            while (high < count && entry(high) < wanted) {
                at = high + 1;
                high += step;
                step *= 2;
            }
            high = std::min(high, count);
            while (at < high) {
                const int mid = at + (high - at) / 2;
                if (entry(mid) < wanted)
                    at = mid + 1;
                else
                    high = mid;
            }
        } else {
            while (at < count && entry(at) < wanted)
                ++at;
        }
        if (at < count && entry(at) == wanted)
            *kept++ = *id;
    }
    ids->resize(int(kept - begin));
}

// Enough for the workers of a busy service; connections past it are closed when
// returned instead of kept.
constexpr size_t MaxIdleConnections = 16;

QString lastError(sqlite3 *db, const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory"));
}

bool exec(sqlite3 *db, const char *sql, QString *error)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    *error = lastError(db, sql);
    return false;
}

// Statements that live for one function: finalized on every way out.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    sqlite3_stmt *get() const { return m_stmt; }
    explicit operator bool() const { return m_stmt != nullptr; }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

void bindText(sqlite3_stmt *stmt, int column, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(stmt, column, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
}

void bindText(sqlite3_stmt *stmt, int column, std::string_view text)
{
    sqlite3_bind_text(stmt, column, text.data(), int(text.size()), SQLITE_STATIC);
}

std::string_view columnView(sqlite3_stmt *stmt, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return std::string_view(text ? text : "", size_t(sqlite3_column_bytes(stmt, column)));
}

QString columnText(sqlite3_stmt *stmt, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
}

QByteArray metaValue(sqlite3 *db, const char *key)
{
    Statement stmt(db, "SELECT value FROM meta WHERE key = ?1");
    if (!stmt)
        return QByteArray();
    sqlite3_bind_text(stmt.get(), 1, key, -1, SQLITE_STATIC);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(stmt.get(), 0)),
                      sqlite3_column_bytes(stmt.get(), 0));
}

bool fill(sqlite3 *db, const PackageList &index, const QString &source, const QByteArray &buildId,
          QString *error)
{
    if (!index.detailsKept()) {
        *error = QStringLiteral("the packages of an index file are not written again");
        return false;
    }
    if (!exec(db,
              "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN;"
              "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
              "CREATE TABLE packages(id INTEGER PRIMARY KEY, name TEXT, version TEXT, architecture TEXT,"
              " section TEXT, maintainer TEXT, homepage TEXT, depends TEXT, installed_size INTEGER,"
              " summary TEXT, description TEXT, folded_name TEXT, folded_summary TEXT,"
              " folded_description TEXT);"
              "CREATE TABLE grams(key INTEGER PRIMARY KEY, ids BLOB NOT NULL);",
              error))
        return false;
    {
        Statement meta(db, "INSERT INTO meta(key, value) VALUES (?1, ?2)");
        const QList<QPair<QString, QString>> values{{QStringLiteral("format"), QLatin1String(Format)},
                                                    {QStringLiteral("source"), source},
                                                    {QStringLiteral("build"), QString::fromLatin1(buildId)}};
        for (const auto &v : values) {
            bindText(meta.get(), 1, v.first);
            bindText(meta.get(), 2, v.second);
            if (sqlite3_step(meta.get()) != SQLITE_DONE || sqlite3_reset(meta.get()) != SQLITE_OK) {
                *error = lastError(db, "writing the index");
                return false;
            }
        }
    }
    Statement row(
        db, "INSERT INTO packages VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
    if (!row) {
        *error = lastError(db, "preparing the index");
        return false;
    }
    // Columns 2 to 14 in the order of the table.
    const PackageList::Field columns[] = {PackageList::Name,
                                          PackageList::Version,
                                          PackageList::Architecture,
                                          PackageList::Section,
                                          PackageList::Maintainer,
                                          PackageList::Homepage,
                                          PackageList::Depends,
                                          PackageList::FieldCount,
                                          PackageList::Summary,
                                          PackageList::Description,
                                          PackageList::FoldedName,
                                          PackageList::FoldedSummary,
                                          PackageList::FoldedDescription};
    for (int i = 0; i < index.size(); ++i) {
        sqlite3_bind_int64(row.get(), 1, i);
        for (int c = 0; c < int(std::size(columns)); ++c) {
            if (columns[c] == PackageList::FieldCount)
                sqlite3_bind_int64(row.get(), 2 + c, index.installedSizeKiB(i));
            else
                bindText(row.get(), 2 + c, index.text(i, columns[c]));
        }
        if (sqlite3_step(row.get()) != SQLITE_DONE || sqlite3_reset(row.get()) != SQLITE_OK) {
            *error = lastError(db, "writing the index");
            return false;
        }
    }
    // Per gram of one to three code points the positions of the packages that contain it,
    // of the packages that contain it, ascending, as little-endian 32-bit numbers.
    QHash<qint64, QByteArray> grams;
    std::vector<qint64> keys;
    for (int i = 0; i < index.size(); ++i) {
        keys.clear();
        for (PackageList::Field f :
             {PackageList::FoldedName, PackageList::FoldedSummary, PackageList::FoldedDescription})
            addGrams(index.string(i, f), &keys);
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        const quint32 position = qToLittleEndian(quint32(i));
        for (qint64 key : keys)
            grams[key].append(reinterpret_cast<const char *>(&position), sizeof position);
    }
    Statement gram(db, "INSERT INTO grams(key, ids) VALUES (?1, ?2)");
    for (auto it = grams.cbegin(); it != grams.cend(); ++it) {
        sqlite3_bind_int64(gram.get(), 1, it.key());
        sqlite3_bind_blob(gram.get(), 2, it.value().constData(), it.value().size(), SQLITE_STATIC);
        if (sqlite3_step(gram.get()) != SQLITE_DONE || sqlite3_reset(gram.get()) != SQLITE_OK) {
            *error = lastError(db, "writing the index");
            return false;
        }
    }
    return exec(db, "COMMIT;", error);
}

QByteArray newBuildId()
{
    return QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
}

} // namespace

SearchIndex::SearchIndex(const QByteArray &uri, const QByteArray &buildId)
    : m_uri(uri)
    , m_buildId(buildId)
{
}

SearchIndex::~SearchIndex()
{
    for (const Connection &c : m_idle)
        close(c);
    sqlite3_close(m_keeper);
}

std::shared_ptr<SearchIndex> SearchIndex::createInMemory(const PackageList &packages, QString *error)
{
    // A memdb name that starts with "/" is shared by the connections of this process.
    static std::atomic<int> serial{0};
    const QByteArray uri = QByteArray("file:/zelko-index-") + QByteArray::number(qint64(getpid())) + '-'
                           + QByteArray::number(++serial) + "?vfs=memdb";
    const QByteArray buildId = newBuildId();
    std::shared_ptr<SearchIndex> index(new SearchIndex(uri, buildId));
    if (sqlite3_open_v2(uri.constData(), &index->m_keeper,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr)
        != SQLITE_OK) {
        *error = lastError(index->m_keeper, "opening the index in memory");
        return nullptr;
    }
    if (!fill(index->m_keeper, packages, QString(), buildId, error))
        return nullptr;
    return index;
}

bool SearchIndex::writeFile(const PackageList &packages, const QString &path, const QString &source,
                            QString *error)
{
    // A name of its own beside the target: two builders never write the same file,
    // and the rename that publishes it stays on one file system.
    QTemporaryFile temporary(path + QStringLiteral(".XXXXXX"));
    if (!temporary.open()) {
        *error = QStringLiteral("cannot create a file beside %1: %2").arg(path, temporary.errorString());
        return false;
    }
    temporary.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                             | QFileDevice::ReadOther);
    const QString temporaryPath = temporary.fileName();
    sqlite3 *db = nullptr;
    bool ok =
        sqlite3_open_v2(QFile::encodeName(temporaryPath).constData(), &db, SQLITE_OPEN_READWRITE, nullptr)
        == SQLITE_OK;
    if (!ok) {
        *error = lastError(db, "opening the new index");
    } else {
        ok = fill(db, packages, source, newBuildId(), error);
    }
    if (sqlite3_close(db) != SQLITE_OK && ok) {
        *error = QStringLiteral("cannot close the new index");
        ok = false;
    }
    // On disk before it has a name readers open.
    ok = ok && temporary.flush() && fsync(temporary.handle()) == 0;
    if (ok
        && std::rename(QFile::encodeName(temporaryPath).constData(), QFile::encodeName(path).constData())
               != 0) {
        *error = QStringLiteral("cannot rename %1 to %2").arg(temporaryPath, path);
        ok = false;
    }
    if (ok)
        temporary.setAutoRemove(false);
    return ok;
}

std::shared_ptr<SearchIndex> SearchIndex::openFile(const QString &path, PackageList *packages,
                                                   QString *source, QString *error)
{
    // Immutable: the file is replaced by a rename, never changed in place, so
    // readers need neither locks nor journal checks.
    const QByteArray uri =
        "file:" + QUrl::toPercentEncoding(QFileInfo(path).absoluteFilePath(), "/") + "?immutable=1";
    std::shared_ptr<SearchIndex> index(new SearchIndex(uri, QByteArray()));
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("%1 is not a file").arg(path);
        return nullptr;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
        *error = lastError(db, "opening the index");
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> hold(db, sqlite3_close);
    if (metaValue(db, "format") != Format) {
        *error = QStringLiteral("%1 is not a search index of this service").arg(path);
        return nullptr;
    }
    index->m_buildId = metaValue(db, "build");
    *source = QString::fromUtf8(metaValue(db, "source"));

    // What a search answer shows and ranking matches; the rest stays in the file until
    // the details of one package are asked for.
    Statement rows(db,
                   "SELECT id, name, version, architecture, section, summary, folded_name, folded_summary,"
                   " folded_description, installed_size FROM packages ORDER BY id");
    PackageList loaded;
    loaded.setDetailsKept(false);
    int step = SQLITE_ERROR;
    std::string_view texts[PackageList::FieldCount];
    while (rows && (step = sqlite3_step(rows.get())) == SQLITE_ROW) {
        // Row ids are the positions the posting lists hold.
        if (sqlite3_column_int64(rows.get(), 0) != loaded.size()) {
            step = SQLITE_CORRUPT;
            break;
        }
        int c = 1;
        for (PackageList::Field f : {PackageList::Name, PackageList::Version, PackageList::Architecture,
                                     PackageList::Section, PackageList::Summary, PackageList::FoldedName,
                                     PackageList::FoldedSummary, PackageList::FoldedDescription})
            texts[f] = columnView(rows.get(), c++);
        loaded.append(texts, sqlite3_column_int64(rows.get(), c));
    }
    if (step != SQLITE_DONE) {
        *error = step == SQLITE_CORRUPT && rows ? QStringLiteral("%1: package rows out of order").arg(path)
                                                : lastError(db, "reading the index");
        return nullptr;
    }
    loaded.sortNames();
    // The pages read at start are not needed again; nor is what loading freed.
    sqlite3_db_release_memory(db);
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    // This connection starts the pool.
    Connection first{hold.release(), nullptr};
    index->release(first);
    *packages = std::move(loaded);
    return index;
}

SearchIndex::Connection SearchIndex::acquire() const
{
    auto prepare = [](Connection *c) {
        return sqlite3_prepare_v3(c->db, GramSql, -1, SQLITE_PREPARE_PERSISTENT, &c->gram, nullptr)
                   == SQLITE_OK
               && sqlite3_prepare_v3(c->db, LengthSql, -1, SQLITE_PREPARE_PERSISTENT, &c->length, nullptr)
                      == SQLITE_OK;
    };
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_idle.empty()) {
            Connection c = m_idle.back();
            m_idle.pop_back();
            // The one openFile() read the packages with has no statements yet.
            if (c.gram || prepare(&c))
                return c;
            close(c);
            return Connection();
        }
    }
    Connection c;
    if (sqlite3_open_v2(m_uri.constData(), &c.db,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr)
            != SQLITE_OK
        // A file opened by name may have been replaced since the packages were read
        // from it; its row ids would then name other packages.
        || metaValue(c.db, "build") != m_buildId || !prepare(&c)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_warned)
            std::fprintf(stderr, "zelko-service: the search index %s is gone or replaced; scanning instead\n",
                         m_uri.constData());
        m_warned = true;
        close(c);
        return Connection();
    }
    return c;
}

void SearchIndex::release(Connection c) const
{
    if (c.gram)
        sqlite3_reset(c.gram);
    if (c.length)
        sqlite3_reset(c.length);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_idle.size() < MaxIdleConnections) {
            m_idle.push_back(c);
            return;
        }
    }
    close(c);
}

void SearchIndex::close(Connection c)
{
    sqlite3_finalize(c.gram);
    sqlite3_finalize(c.length);
    sqlite3_close(c.db);
}

bool SearchIndex::candidates(const QStringList &words, int size, QVector<int> *out) const
{
    Connection c = acquire();
    if (!c.db)
        return false;
    std::vector<qint64> keys;
    bool shortWord = false;
    for (const QString &word : words) {
        const QVector<uint> points = word.toUcs4();
        shortWord = shortWord || points.size() < 3;
        const std::vector<qint64> more = wordKeys(points);
        keys.insert(keys.end(), more.begin(), more.end());
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    bool ok = true;
    out->clear();
    // A word of one or two code points beside others holds far more packages than
    // they do ("gnu c library": 3,600 for "gnu", 52,000 for "c" over the archive), and
    // so do common trigrams of long words, so then the shortest lists go first: what is
    // left of the candidates is looked up in the long ones instead of those being read
    // through, or those are not read at all. A few trigrams alone differ too little to pay
    // for the lookups of their lengths (about 4,000 instructions each).
    const bool byLength = keys.size() > 1 && (shortWord || keys.size() > 4);
    std::vector<qint64> lengths(keys.size(), -1); // entries, when looked up
    if (byLength) {
        std::vector<std::pair<qint64, qint64>> sorted; // entries, key
        for (qint64 key : keys) {
            sqlite3_bind_int64(c.length, 1, key);
            const int step = sqlite3_step(c.length);
            ok = ok && (step == SQLITE_ROW || step == SQLITE_DONE);
            sorted.emplace_back(step == SQLITE_ROW ? sqlite3_column_int64(c.length, 0) / 4 : 0, key);
            sqlite3_reset(c.length);
        }
        std::sort(sorted.begin(), sorted.end());
        for (size_t k = 0; k < keys.size(); ++k) {
            lengths[k] = sorted[k].first;
            keys[k] = sorted[k].second;
        }
    }
    for (size_t k = 0; ok && k < keys.size() && k < MaxListsRead; ++k) {
        // Lengths ascend from here on: none of the rest is worth reading either.
        if (k > 0 && lengths[k] > SkipListRatio * out->size())
            break;
        sqlite3_bind_int64(c.gram, 1, keys[k]);
        const int step = sqlite3_step(c.gram);
        ok = step == SQLITE_ROW || step == SQLITE_DONE;
        const auto *data =
            step == SQLITE_ROW ? static_cast<const uchar *>(sqlite3_column_blob(c.gram, 0)) : nullptr;
        const int count = data ? sqlite3_column_bytes(c.gram, 0) / 4 : 0;
        if (k == 0)
            firstList(data, count, size, out);
        else
            intersect(data, count, out);
        sqlite3_reset(c.gram);
        if (out->isEmpty())
            break;
    }
    release(c);
    return ok;
}

bool SearchIndex::details(int id, Package *p) const
{
    Connection c = acquire();
    if (!c.db)
        return false;
    bool found = false;
    {
        Statement stmt(c.db, "SELECT maintainer, homepage, depends, description FROM packages WHERE id = ?1");
        sqlite3_bind_int64(stmt.get(), 1, id);
        if (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW) {
            p->maintainer = columnText(stmt.get(), 0);
            p->homepage = columnText(stmt.get(), 1);
            p->depends = columnText(stmt.get(), 2);
            p->description = columnText(stmt.get(), 3);
            found = true;
        }
    }
    release(c);
    return found;
}
