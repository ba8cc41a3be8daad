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

// The SQLite side of a package list: an FTS5 trigram table over the case-folded
// name, summary and description of each package (row id = position in the
// index), and the packages themselves, so a service can start from the file
// alone. Written once and then only read: every search borrows a read-only
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

    // Positions of the packages whose folded texts contain every one of words
    // (each at least three code points long), ascending and below size. False when
    // the index cannot answer; the caller then scans.
    bool candidates(const QStringList &words, int size, QVector<int> *out) const;

    // The same for words of one or two code points, from the grams table.
    bool gramCandidates(const QStringList &words, int size, QVector<int> *out) const;

    // The fields of package id that a list read from the file leaves there.
    bool details(int id, Package *p) const;

    // The text given to FTS5 MATCH for words: each a quoted string, so that no
    // word is ever read as query syntax.
    static QByteArray matchExpression(const QStringList &words);

private:
    struct Connection
    {
        sqlite3 *db = nullptr;
        sqlite3_stmt *match = nullptr;
        sqlite3_stmt *gram = nullptr;
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
