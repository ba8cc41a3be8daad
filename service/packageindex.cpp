#include "packageindex.h"

#include "packageparser.h"
#include "ranking.h"
#include "searchindex.h"

#include <QFile>

PackageIndex::PackageIndex()
    : PackageIndex(PackageList())
{
}

PackageIndex::PackageIndex(PackageList list)
    : m_list(std::make_shared<const PackageList>(std::move(list)))
{
}

PackageIndex PackageIndex::fromStatusText(const QByteArray &text)
{
    return PackageIndex(PackageParser::fromStatusText(text));
}

PackageIndex PackageIndex::fromPackagesText(const QByteArray &text)
{
    return PackageIndex(PackageParser::fromPackagesText(text));
}

PackageIndex PackageIndex::fromStatusFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return PackageIndex();
    return fromStatusText(file.readAll());
}

bool PackageIndex::attachIndex(QString *error)
{
    m_search = SearchIndex::createInMemory(*m_list, error);
    return bool(m_search);
}

bool PackageIndex::writeIndex(const QString &path, const QString &source, QString *error) const
{
    return SearchIndex::writeFile(*m_list, path, source, error);
}

PackageIndex PackageIndex::openIndex(const QString &path, QString *source, QString *error)
{
    PackageList list;
    std::shared_ptr<SearchIndex> search = SearchIndex::openFile(path, &list, source, error);
    // A file that lists a name longer than details take (one written by a build that bounded
    // none) is not used, so a service builds it again from its source.
    for (int i = 0; search && i < list.size(); ++i) {
        if (list.text(i, PackageList::Name).size() > size_t(PackageParser::MaxNameBytes)) {
            *error = QStringLiteral("%1 lists a name longer than %2 bytes")
                         .arg(path)
                         .arg(PackageParser::MaxNameBytes);
            return PackageIndex();
        }
    }
    PackageIndex index(std::move(list));
    index.m_search = std::move(search);
    return index;
}

bool PackageIndex::details(int i, Package *p) const
{
    *p = m_list->at(i);
    return m_list->detailsKept() || (m_search && m_search->details(i, p));
}

QVector<int> PackageIndex::search(const QString &query) const
{
    return search(query, 0, size(), nullptr);
}

QVector<int> PackageIndex::search(const QString &query, int from, int count, int *total) const
{
    const QStringList words = Ranking::words(query);
    if (!m_search)
        return Ranking::rank(*m_list, words, nullptr, from, count, total);
    QStringList served;
    for (const QString &word : words) {
        if (Ranking::servedLength(word) > 0)
            served << word;
    }
    // Candidates from the grams; the words left over are checked with the ranking.
    QVector<int> candidates;
    if (!served.isEmpty() && m_search->candidates(served, size(), &candidates))
        return Ranking::rank(*m_list, words, &candidates, from, count, total);
    return Ranking::rank(*m_list, words, nullptr, from, count, total);
}

QVector<int> PackageIndex::scan(const QString &query) const
{
    return Ranking::scan(*m_list, query);
}
