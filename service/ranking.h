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

// The words of a query, case-folded.
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
// The rank of package i for words, or -1 when one of them is missing.
int rankOf(const PackageList &list, const Words &words, int i);
// The matching packages among candidates (all when null, in position order), best first:
// count of them from the from-th on. total, when given, receives how many match.
QVector<int> rank(const PackageList &list, const QStringList &words, const QVector<int> *candidates, int from,
                  int count, int *total);
// The same answer from a plain scan and sort: the reference rank() is checked against.
QVector<int> scan(const PackageList &list, const QString &query);

} // namespace Ranking

#endif
