#ifndef PACKAGELIST_H
#define PACKAGELIST_H

#include <QString>
#include <QVector>

// One package as the dpkg database or an archive's package list records it.
struct Package
{
    QString name; // unique in a list: "name:arch" when several architectures are listed
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

// The packages a service answers from, and what they are matched by: plain data, made
// once (by the parser or from an index file) and then only read, so threads share it
// without locking.
struct PackageList
{
    // Case-folded copies of the texts searched, at the same positions.
    struct Folded
    {
        QString name, summary, description;
    };

    QVector<Package> packages; // by name, then architecture
    QVector<Folded> folded;
    // Positions in name order: "name:arch" does not sort where "name" did.
    QVector<int> byName;

    int size() const { return packages.size(); }
    const Package *find(const QString &name) const;
    // Adds p after the others, with its folded texts (given, or made here).
    void append(const Package &p);
    void append(const Package &p, const Folded &f);
    // Once every package is in: the name order find() looks names up in.
    void sortNames();
};

#endif
