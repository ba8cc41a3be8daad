#ifndef PACKAGEINDEX_H
#define PACKAGEINDEX_H

#include "packagelist.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class SearchIndex;

// The packages a service searches, read once and then only searched, so worker threads
// share them without locking. Searches go through a full-text index when one is attached
// (attachIndex(), openIndex()) and scan every package otherwise.
class PackageIndex
{
public:
    PackageIndex();
    explicit PackageIndex(PackageList list);

    // Parses the text of a dpkg status file; anything that is not an installed
    // package stanza is skipped.
    static PackageIndex fromStatusText(const QByteArray &text);
    // Empty index when the file cannot be read.
    static PackageIndex fromStatusFile(const QString &path);
    // Parses package lists as apt keeps them (see PackageParser).
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

    int size() const { return m_list->size(); }
    // What the list keeps of package i: all of it, but for an index file's list, whose
    // details (maintainer, homepage, depends, description) stay in the file.
    Package at(int i) const { return m_list->at(i); }
    // All of package i, from the file where needed; false when the file cannot tell.
    bool details(int i, Package *p) const;
    // The position of the package named name, or -1.
    int find(const QString &name) const { return m_list->find(name); }
    const PackageList &list() const { return *m_list; }

    // Indices of the packages matching every word of query, best first (Ranking). An
    // empty query lists every package by name.
    QVector<int> search(const QString &query) const;
    // count of those from the from-th on, and in total how many there are: only that
    // page is put in order.
    QVector<int> search(const QString &query, int from, int count, int *total) const;
    // The same answer from a scan of every package: the reference search() must agree
    // with.
    QVector<int> scan(const QString &query) const;

private:
    std::shared_ptr<const PackageList> m_list;
    std::shared_ptr<const SearchIndex> m_search;
};

#endif
