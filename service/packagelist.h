#ifndef PACKAGELIST_H
#define PACKAGELIST_H

#include <QString>
#include <QVector>

#include <string_view>
#include <vector>

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
// without locking. Every text is UTF-8 in one buffer: the archive's 60,000 packages take
// about 12 MiB so, where QStrings (UTF-16, a header and an allocation each) would take 80.
struct PackageList
{
    enum Field {
        Name,
        Version,
        Architecture,
        Section,
        Summary,
        // Case-folded copies of the texts searched.
        FoldedName,
        FoldedSummary,
        FoldedDescription,
        // Only for the details of one package; a list read from an index file leaves
        // them there (detailsKept false).
        Maintainer,
        Homepage,
        Depends,
        Description,
        FieldCount
    };

    int size() const { return int(m_installedSize.size()); }
    std::string_view text(int i, Field f) const
    {
        const size_t at = size_t(i) * FieldCount + f;
        return std::string_view(m_text.data() + m_offsets[at], m_offsets[at + 1] - m_offsets[at]);
    }
    QString string(int i, Field f) const;
    qint64 installedSizeKiB(int i) const { return m_installedSize[size_t(i)]; }
    // Every field the list keeps.
    Package at(int i) const;
    bool detailsKept() const { return m_detailsKept; }

    // The position of the package named name, or -1.
    int find(const QString &name) const;
    // Adds p after the others, folding its texts here.
    void append(const Package &p);
    // Adds a package from its texts as UTF-8 (FieldCount of them, in Field order).
    void append(const std::string_view *texts, qint64 installedSizeKiB);
    // Once every package is in: the name order find() looks names up in.
    void sortNames();
    void setDetailsKept(bool kept) { m_detailsKept = kept; }

private:
    std::vector<char> m_text;
    std::vector<quint32> m_offsets{0}; // FieldCount per package, then where the last one ends
    std::vector<qint64> m_installedSize;
    // Positions in name order: "name:arch" does not sort where "name" did.
    QVector<int> m_byName;
    bool m_detailsKept = true;
};

#endif
