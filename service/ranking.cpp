#include "ranking.h"

#include <QPair>
#include <QtAlgorithms>

#include <algorithm>
#include <vector>

#include <string.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// For words of two bytes or more.
bool containsLong(std::string_view text, std::string_view word)
{
    const size_t n = word.size();
    if (text.size() < n)
        return false;
    // Only the places where both the first and the last byte of the word are get a
    // closer look. glibc's memmem stops at every place a byte pair of the word hashes
    // alike, which in prose is often, and costs a call more than a name takes here.
    const char *at = text.data();
    const char *const end = text.data() + text.size() - n + 1; // past the last start
#ifdef __SSE2__
    if (end - at >= 16) {
        const __m128i first = _mm_set1_epi8(word[0]);
        const __m128i last = _mm_set1_epi8(word[n - 1]);
        // Sixteen places at a time, the last sixteen once more where the text ends
        // within a block.
        for (;;) {
            const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
            const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + n - 1));
            uint mask = uint(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, last))));
            while (mask) {
                if (memcmp(at + qCountTrailingZeroBits(mask) + 1, word.data() + 1, n - 2) == 0)
                    return true;
                mask &= mask - 1;
            }
            if (at + 16 == end)
                return false;
            at = std::min(at + 16, end - 16);
        }
    }
#endif
    for (; at != end; ++at) {
        if (at[0] == word[0] && at[n - 1] == word[n - 1] && memcmp(at + 1, word.data() + 1, n - 2) == 0)
            return true;
    }
    return false;
}

Q_ALWAYS_INLINE bool contains(std::string_view text, std::string_view word)
{
    if (word.size() == 1)
        return memchr(text.data(), word[0], text.size()) != nullptr;
    return containsLong(text, word);
}

// For a word that is not empty. The first byte alone settles most names, without a call.
bool startsWith(std::string_view text, std::string_view word)
{
    return text.size() >= word.size() && text[0] == word[0]
           && memcmp(text.data(), word.data(), word.size()) == 0;
}

// Inlined into the loop over the candidates, the hottest of an answer.
Q_ALWAYS_INLINE int utf8Rank(const PackageList &list, const std::vector<std::string_view> &words, int i)
{
    int rank = 0;
    // On the folded texts as UTF-8: for valid text, byte and code point matches agree.
    // Most hits are settled by the name, so the other texts are only looked up when
    // a word is not in it.
    const std::string_view name = list.text(i, PackageList::FoldedName);
    std::string_view summary, description;
    bool others = false;
    for (const std::string_view &word : words) {
        if (startsWith(name, word)) {
            rank += name.size() == word.size() ? 0 : 1;
        } else if (contains(name, word)) {
            rank += 2;
        } else {
            if (!others) {
                others = true;
                summary = list.text(i, PackageList::FoldedSummary);
                description = list.text(i, PackageList::FoldedDescription);
            }
            if (contains(summary, word))
                rank += 3;
            else if (contains(description, word))
                rank += 4;
            else
                return -1;
        }
    }
    return rank;
}

// A word with a stray surrogate half has no UTF-8 form; it is matched on the texts as
// QStrings (rare: only a query's JSON escapes make one).
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
        // An empty word (none of words() makes one) goes the slow way too, so that the
        // fast one need not check for it.
        valid = valid && QStringView(word).isValidUtf16() && !word.isEmpty();
    }
    for (const QByteArray &word : qAsConst(utf8))
        views.emplace_back(word.constData(), size_t(word.size()));
}

QStringList Ranking::words(const QString &query)
{
    const QStringList all = query.simplified().toCaseFolded().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList distinct;
    for (const QString &word : all) {
        if (!distinct.contains(word)) {
            distinct << word;
            if (distinct.size() == MaxWords)
                break;
        }
    }
    return distinct;
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

QVector<int> Ranking::rank(const PackageList &list, const QStringList &words, const QVector<int> *candidates,
                           int from, int count, int *total)
{
    const Words w(words);
    // Every match is ranked, so that the total is exact, but only the page asked for is
    // put in order. Ranks are small sums: a count per rank tells where each rank's hits
    // start in the answer, and hits of one rank stay in position (name) order.
    constexpr quint16 Missing = 0xffff;
    const int all = candidates ? candidates->size() : list.size();
    const int size = words.isEmpty() ? all : std::min(all, MaxChecks / int(words.size()));
    std::vector<quint16> ranks(size_t(size), Missing);
    std::vector<int> starts(size_t(4 * words.size() + 1), 0);
    int matches = 0;
    for (int k = 0; k < size; ++k) {
        const int i = candidates ? candidates->at(k) : k;
        const int rank = w.valid ? utf8Rank(list, w.views, i) : rankOf(list, w, i);
        if (rank >= 0) {
            ranks[size_t(k)] = quint16(rank);
            ++starts[size_t(rank)];
            ++matches;
        }
    }
    if (total)
        *total = matches;
    QVector<int> page;
    if (from >= matches || count <= 0)
        return page;
    const int end = from + std::min(count, matches - from);
    page.resize(end - from);
    int at = 0;
    for (int &start : starts) {
        const int n = start;
        start = at;
        at += n;
    }
    int placed = 0;
    for (int k = 0; k < size && placed < page.size(); ++k) {
        if (ranks[size_t(k)] == Missing)
            continue;
        const int position = starts[ranks[size_t(k)]]++;
        if (position >= from && position < end) {
            page[position - from] = candidates ? candidates->at(k) : k;
            ++placed;
        }
    }
    return page;
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
    return utf8Rank(list, words.views, i);
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
