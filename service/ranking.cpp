#include "ranking.h"

#include <QPair>

#include <algorithm>

namespace {

int matchRank(const QString &word, const QString &name, const QString &summary, const QString &description)
{
    if (name == word)
        return 0;
    if (name.startsWith(word))
        return 1;
    if (name.contains(word))
        return 2;
    if (summary.contains(word))
        return 3;
    if (description.contains(word))
        return 4;
    return -1;
}

} // namespace

QStringList Ranking::words(const QString &query)
{
    return query.simplified().toCaseFolded().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Words the index answers for exactly: nothing it would read differently from
// QString::contains (a stray surrogate half or a NUL). Trigrams serve three code
// points or more, the grams table fewer.
int Ranking::servedLength(const QString &word)
{
    if (!QStringView(word).isValidUtf16() || word.contains(QChar(0)))
        return 0;
    return word.toUcs4().size();
}

QVector<int> Ranking::rank(const PackageList &list, const QStringList &words, const QVector<int> *candidates)
{
    // Ranks are small sums, so hits go to one bucket per rank in position (name)
    // order, and the buckets in rank order are the answer: no sort.
    QVector<QVector<int>> buckets(4 * words.size() + 1);
    const int count = candidates ? candidates->size() : list.size();
    for (int k = 0; k < count; ++k) {
        const int i = candidates ? candidates->at(k) : k;
        const int rank = rankOf(list, words, i);
        if (rank >= 0)
            buckets[rank].append(i);
    }
    int total = 0;
    for (const QVector<int> &bucket : qAsConst(buckets))
        total += bucket.size();
    QVector<int> out;
    out.reserve(total);
    for (const QVector<int> &bucket : qAsConst(buckets))
        out += bucket;
    return out;
}

int Ranking::rankOf(const PackageList &list, const QStringList &words, int i)
{
    const PackageList::Folded &f = list.folded.at(i);
    int rank = 0;
    for (const QString &word : words) {
        const int r = matchRank(word, f.name, f.summary, f.description);
        if (r < 0)
            return -1;
        rank += r;
    }
    return rank;
}

QVector<int> Ranking::scan(const PackageList &list, const QString &query)
{
    const QStringList words = Ranking::words(query);
    QVector<QPair<int, int>> hits; // rank, index
    for (int i = 0; i < list.size(); ++i) {
        const int rank = rankOf(list, words, i);
        if (rank >= 0)
            hits.append({rank, i});
    }
    // Packages are sorted by name, so a stable sort by rank keeps names in order.
    std::stable_sort(hits.begin(), hits.end(),
                     [](const QPair<int, int> &a, const QPair<int, int> &b) { return a.first < b.first; });
    QVector<int> out;
    out.reserve(hits.size());
    for (const auto &h : hits)
        out.append(h.second);
    return out;
}
