#ifndef RANKING_H
#define RANKING_H

#include "packagelist.h"

#include <QStringList>
#include <QVector>

#include <string_view>
#include <vector>

// How packages match a query: every word must be in the package, and a package ranks by
// the sum of where its words are found: name equal, name prefix, name part, summary,
// description. Ties stay in name order.
namespace Ranking {

// Distinct words a query is matched by; those past them are left out. Each costs a pass
// over every candidate, and a query of 256 characters could otherwise hold 128.
constexpr int MaxWords = 8;

// The words of a query, case-folded, each once (a repeat would only add its rank again),
// at most MaxWords of them, in the order first typed.
QStringList words(const QString &query);
// How many code points of word a full-text index can look up exactly: 0 for one it would
// read differently from QString::contains (a stray surrogate half, a NUL).
int servedLength(const QString &word);
// Words as ranking matches them: UTF-8, unless one has no UTF-8 form or is empty.
struct Words
{
    explicit Words(const QStringList &words);
    QStringList texts;
    QList<QByteArray> utf8;
    std::vector<std::string_view> views; // of utf8
    bool valid = true;
};
// Word checks (candidates times words) one answer makes at most, so that no query costs
// more than a few milliseconds: past them only the first candidates, in position (name)
// order, are checked, and the answer is made of theirs alone. One word alone is checked
// against every package of a list up to this size (the archive has 64,000); a query of
// 8 one-letter words, which most of the archive holds, against the first 16,384.
constexpr int MaxChecks = 1 << 17;

// The rank of package i for words, or -1 when one of them is missing.
int rankOf(const PackageList &list, const Words &words, int i);
// The matching packages among candidates (all when null, in position order), best first:
// count of them from the from-th on. total, when given, receives how many match. Only as
// many candidates as MaxChecks allows are looked at.
QVector<int> rank(const PackageList &list, const QStringList &words, const QVector<int> *candidates, int from,
                  int count, int *total);
// The same answer from a plain scan and sort: the reference rank() is checked against.
QVector<int> scan(const PackageList &list, const QString &query);

} // namespace Ranking

#endif
