#include "ranking.h"

#include <QPair>

#include <algorithm>

#include <string.h>

namespace {

bool contains(std::string_view text, std::string_view word)
{
    return memmem(text.data(), text.size(), word.data(), word.size()) != nullptr;
}

// On the folded texts as UTF-8: for valid text, byte and code point matches agree.
int matchRank(std::string_view word, std::string_view name, std::string_view summary,
              std::string_view description)
{
    if (name == word)
        return 0;
    if (name.substr(0, word.size()) == word)
        return 1;
    if (contains(name, word))
        return 2;
    if (contains(summary, word))
        return 3;
    if (contains(description, word))
        return 4;
    return -1;
}

// A word with a stray surrogate half has no UTF-8 form; it is matched as before, on
// the texts as QStrings (rare: only a query's JSON escapes make one).
int matchRank(const QString &word, const PackageList &list, int i)
{
    if (list.string(i, PackageList::FoldedName) == word)
        return 0;
    if (list.string(i, PackageList::FoldedName).startsWith(word))
        return 1;
    if (list.string(i, PackageList::FoldedName).contains(word))
        return 2;
    if (list.string(i, PackageList::FoldedSummary).contains(word))
        return 3;
    if (list.string(i, PackageList::FoldedDescription).contains(word))
        return 4;
    return -1;
}

} // namespace

Ranking::Words::Words(const QStringList &words)
    : texts(words)
{
    for (const QString &word : words) {
        utf8 << word.toUtf8();
        valid = valid && QStringView(word).isValidUtf16();
    }
}

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
    const Words w(words);
    // Ranks are small sums, so hits go to one bucket per rank in position (name)
    // order, and the buckets in rank order are the answer: no sort.
    QVector<QVector<int>> buckets(4 * words.size() + 1);
    const int count = candidates ? candidates->size() : list.size();
    for (int k = 0; k < count; ++k) {
        const int i = candidates ? candidates->at(k) : k;
        const int rank = rankOf(list, w, i);
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

int Ranking::rankOf(const PackageList &list, const Words &words, int i)
{
    int rank = 0;
    if (!words.valid) {
        for (const QString &word : words.texts) {
            const int r = matchRank(word, list, i);
            if (r < 0)
                return -1;
            rank += r;
        }
        return rank;
    }
    const std::string_view name = list.text(i, PackageList::FoldedName);
    const std::string_view summary = list.text(i, PackageList::FoldedSummary);
    const std::string_view description = list.text(i, PackageList::FoldedDescription);
    for (const QByteArray &word : words.utf8) {
        const int r =
            matchRank(std::string_view(word.constData(), size_t(word.size())), name, summary, description);
        if (r < 0)
            return -1;
        rank += r;
    }
    return rank;
}

QVector<int> Ranking::scan(const PackageList &list, const QString &query)
{
    const Words words(Ranking::words(query));
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
