#ifndef PACKAGEINDEX_H
#define PACKAGEINDEX_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class SearchIndex;

// One package as the dpkg database or an archive's package list records it.
struct Package
{
    QString name; // unique in the index: "name:arch" when several architectures are listed
    QString version;
    QString architecture;
    QString section;
    QString maintainer;
    QString homepage;
    QString depends;
    qint64 installedSizeKiB = 0;
    QString summary;     // first line of the description
    QString description; // the rest, paragraphs separated by blank lines
};

// The packages, read once and then only searched, so worker threads share them
// without locking. Searches go through a full-text index when one is attached
// (attachIndex(), openIndex()) and scan every package otherwise.
class PackageIndex
{
public:
    // Parses the text of a dpkg status file; anything that is not an installed
    // package stanza is skipped.
    static PackageIndex fromStatusText(const QByteArray &text);
    // Empty index when the file cannot be read.
    static PackageIndex fromStatusFile(const QString &path);
    // Parses package lists as apt keeps them (Packages files, `apt-cache dumpavail`):
    // every stanza with a name counts, as they carry no Status field.
    static PackageIndex fromPackagesText(const QByteArray &text);

    // The full-text index of these packages in memory, private to this process.
    bool attachIndex(QString *error);
    // Writes the full-text index of these packages into path, through a temporary
    // file renamed into place, so that running services never see half of one.
    bool writeIndex(const QString &path, const QString &source, QString *error) const;
    // The packages and the index a writeIndex() left in path. source receives what
    // it was built from.
    static PackageIndex openIndex(const QString &path, QString *source, QString *error);
    bool isIndexed() const { return bool(m_search); }

    int size() const { return m_packages.size(); }
    const Package &at(int i) const { return m_packages.at(i); }
    const Package *find(const QString &name) const;

    // Indices of the packages matching every word of query, best first: name
    // equal, name prefix, name part, summary, description; then by name. An
    // empty query lists every package by name.
    QVector<int> search(const QString &query) const;
    // The same answer from a scan of every package: what search() was before the
    // index, kept as its reference.
    QVector<int> scan(const QString &query) const;

private:
    struct Folded
    {
        QString name, summary, description;
    };
    static PackageIndex fromStanzas(const QByteArray &text, bool installedOnly);
    void sortNames();
    QVector<int> rank(const QStringList &words, const QVector<int> *candidates) const;
    // The sum of the words' ranks in package i, or -1 when one of them is missing.
    int rankOf(const QStringList &words, int i) const;

    QVector<Package> m_packages; // sorted by name
    QVector<Folded> m_folded;    // case-folded copies for matching
    // Positions in name order: "name:arch" no longer sorts where "name" did.
    QVector<int> m_byName;
    std::shared_ptr<const SearchIndex> m_search;

    friend class SearchIndex;
};

#endif
