#ifndef PACKAGEINDEX_H
#define PACKAGEINDEX_H

#include <QByteArray>
#include <QString>
#include <QVector>

// One installed package as the dpkg database records it.
struct Package
{
    QString name; // unique in the index: "name:arch" when several architectures are installed
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

// The installed-package database, read once and then only searched, so worker
// threads share it without locking.
class PackageIndex
{
public:
    // Parses the text of a dpkg status file; anything that is not an installed
    // package stanza is skipped.
    static PackageIndex fromStatusText(const QByteArray &text);
    // Empty index when the file cannot be read.
    static PackageIndex fromStatusFile(const QString &path);

    int size() const { return m_packages.size(); }
    const Package &at(int i) const { return m_packages.at(i); }
    const Package *find(const QString &name) const;

    // Indices of the packages matching every word of query, best first: name
    // equal, name prefix, name part, summary, description; then by name. An
    // empty query lists every package by name.
    QVector<int> search(const QString &query) const;

private:
    struct Folded
    {
        QString name, summary, description;
    };
    QVector<Package> m_packages; // sorted by name
    QVector<Folded> m_folded;    // case-folded copies for matching
};

#endif
