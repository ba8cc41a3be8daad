#ifndef SEARCHINDEX_H
#define SEARCHINDEX_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <mutex>
#include <vector>

struct Package;
struct PackageList;
struct sqlite3;
struct sqlite3_stmt;

// The SQLite side of a package list: for every gram of one, two or three code
// points in the case-folded name, summary and description of the packages, the
// positions of those that hold it (a posting list, one row: a query's candidates
// are a few row reads and intersections), and the packages themselves, so a
// service can start from the file alone. Written once and then only read: every search borrows a read-only
// connection of its own from a small pool, so threads never share one.
class SearchIndex
{
public:
    ~SearchIndex();
    SearchIndex(const SearchIndex &) = delete;
    SearchIndex &operator=(const SearchIndex &) = delete;

    // In memory (SQLite's memdb), alive as long as the returned object.
    static std::shared_ptr<SearchIndex> createInMemory(const PackageList &packages, QString *error);
    static bool writeFile(const PackageList &packages, const QString &path, const QString &source,
                          QString *error);
    // Fills packages from the file; the index then serves their searches.
    static std::shared_ptr<SearchIndex> openFile(const QString &path, PackageList *packages, QString *source,
                                                 QString *error);

    // Positions of the packages whose folded texts hold every gram of words (one or
    // two code points: the word itself; more: each of its trigrams), ascending and
    // below size: a superset of the packages that contain the words, which ranking
    // then checks. Words are non-empty and valid UTF-16. False when the index cannot
    // answer; the caller then scans.
    bool candidates(const QStringList &words, int size, QVector<int> *out) const;

    // The fields of package id that a list read from the file leaves there.
    bool details(int id, Package *p) const;

private:
    struct Connection
    {
        sqlite3 *db = nullptr;
        sqlite3_stmt *gram = nullptr;
        sqlite3_stmt *length = nullptr;
    };
    SearchIndex(const QByteArray &uri, const QByteArray &buildId);
    Connection acquire() const;
    void release(Connection c) const;
    static void close(Connection c);

    QByteArray m_uri;
    QByteArray m_buildId;
    sqlite3 *m_keeper = nullptr; // holds a memdb database alive
    mutable std::mutex m_mutex;
    mutable std::vector<Connection> m_idle;
    mutable bool m_warned = false;
};

#endif
