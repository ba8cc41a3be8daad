#include "packageindex.h"

#include "searchindex.h"

#include <QFile>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <numeric>

namespace {

// Stanzas are "Field: value" lines with indented continuation lines; a line
// of a single "." in a continuation stands for a blank line.
QHash<QByteArray, QByteArray> parseStanza(const QList<QByteArray> &lines)
{
    QHash<QByteArray, QByteArray> fields;
    QByteArray current;
    for (const QByteArray &line : lines) {
        if (line.startsWith(' ') || line.startsWith('\t')) {
            if (current.isEmpty())
                continue;
            QByteArray &value = fields[current];
            const QByteArray body = line.mid(1);
            value += '\n';
            if (body != ".")
                value += body;
            continue;
        }
        const int colon = line.indexOf(':');
        if (colon <= 0) {
            current.clear();
            continue;
        }
        current = line.left(colon).trimmed().toLower();
        fields.insert(current, line.mid(colon + 1).trimmed());
    }
    return fields;
}

// Lines of a paragraph are wrapped for 80 columns and joined here, so a narrow
// screen can wrap them again; lines indented further are kept as they are.
QString reflow(const QString &description)
{
    QStringList out;
    QString paragraph;
    for (const QString &line : description.split(QLatin1Char('\n'))) {
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char(' '))) {
            if (!paragraph.isEmpty())
                out << paragraph;
            paragraph.clear();
            out << (line.trimmed().isEmpty() ? QString() : line);
            continue;
        }
        paragraph += (paragraph.isEmpty() ? QString() : QStringLiteral(" ")) + line.trimmed();
    }
    if (!paragraph.isEmpty())
        out << paragraph;
    return out.join(QLatin1Char('\n')).trimmed();
}

QString text(const QHash<QByteArray, QByteArray> &fields, const char *name)
{
    return QString::fromUtf8(fields.value(name)).trimmed();
}

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

QStringList queryWords(const QString &query)
{
    return query.simplified().toCaseFolded().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Words the index answers for exactly: nothing it would read differently from
// QString::contains (a stray surrogate half or a NUL). Trigrams serve three code
// points or more, the grams table fewer.
int servedLength(const QString &word)
{
    if (!QStringView(word).isValidUtf16() || word.contains(QChar(0)))
        return 0;
    return word.toUcs4().size();
}

} // namespace

PackageIndex PackageIndex::fromStatusText(const QByteArray &text)
{
    return fromStanzas(text, true);
}

PackageIndex PackageIndex::fromPackagesText(const QByteArray &text)
{
    return fromStanzas(text, false);
}

PackageIndex PackageIndex::fromStanzas(const QByteArray &text, bool installedOnly)
{
    PackageIndex index;
    QList<QByteArray> stanza;
    const QList<QByteArray> lines = text.split('\n');
    auto flush = [&]() {
        if (stanza.isEmpty())
            return;
        const QHash<QByteArray, QByteArray> f = parseStanza(stanza);
        stanza.clear();
        // Only what is really installed: "install ok installed", "hold ok installed".
        const QList<QByteArray> status = f.value("status").split(' ');
        if (installedOnly && (status.size() != 3 || status.at(2) != "installed"))
            return;
        Package p;
        p.name = ::text(f, "package");
        if (p.name.isEmpty())
            return;
        p.version = ::text(f, "version");
        p.architecture = ::text(f, "architecture");
        p.section = ::text(f, "section");
        p.maintainer = ::text(f, "maintainer");
        p.homepage = ::text(f, "homepage");
        p.depends = ::text(f, "depends");
        p.installedSizeKiB = f.value("installed-size").trimmed().toLongLong();
        const QString description = QString::fromUtf8(f.value("description"));
        const int newline = description.indexOf(QLatin1Char('\n'));
        p.summary = description.left(newline).trimmed();
        p.description = newline < 0 ? QString() : reflow(description.mid(newline + 1));
        index.m_packages.append(p);
    };
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            flush();
        else
            stanza.append(line);
    }
    flush();

    std::stable_sort(index.m_packages.begin(), index.m_packages.end(),
                     [](const Package &a, const Package &b) {
                         return a.name != b.name ? a.name < b.name : a.architecture < b.architecture;
                     });
    // Lists put together from several sources may name a package twice; the first wins.
    index.m_packages.erase(std::unique(index.m_packages.begin(), index.m_packages.end(),
                                       [](const Package &a, const Package &b) {
                                           return a.name == b.name && a.architecture == b.architecture;
                                       }),
                           index.m_packages.end());
    // Multi-arch installs list one name once per architecture; names must stay unique
    // because they name the thumbnails.
    for (int i = 0; i < index.m_packages.size(); ++i) {
        const bool before =
            i > 0 && index.m_packages[i - 1].name.section(':', 0, 0) == index.m_packages[i].name;
        const bool after =
            i + 1 < index.m_packages.size() && index.m_packages[i + 1].name == index.m_packages[i].name;
        if (before || after)
            index.m_packages[i].name += QLatin1Char(':') + index.m_packages[i].architecture;
    }
    for (const Package &p : qAsConst(index.m_packages))
        index.m_folded.append(
            {p.name.toCaseFolded(), p.summary.toCaseFolded(), p.description.toCaseFolded()});
    index.sortNames();
    return index;
}

void PackageIndex::sortNames()
{
    m_byName.resize(m_packages.size());
    std::iota(m_byName.begin(), m_byName.end(), 0);
    std::sort(m_byName.begin(), m_byName.end(),
              [this](int a, int b) { return m_packages.at(a).name < m_packages.at(b).name; });
}

PackageIndex PackageIndex::fromStatusFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return PackageIndex();
    return fromStatusText(file.readAll());
}

const Package *PackageIndex::find(const QString &name) const
{
    auto it = std::lower_bound(m_byName.begin(), m_byName.end(), name,
                               [this](int i, const QString &n) { return m_packages.at(i).name < n; });
    return it != m_byName.end() && m_packages.at(*it).name == name ? &m_packages.at(*it) : nullptr;
}

bool PackageIndex::attachIndex(QString *error)
{
    m_search = SearchIndex::createInMemory(*this, error);
    return bool(m_search);
}

bool PackageIndex::writeIndex(const QString &path, const QString &source, QString *error) const
{
    return SearchIndex::writeFile(*this, path, source, error);
}

PackageIndex PackageIndex::openIndex(const QString &path, QString *source, QString *error)
{
    PackageIndex index;
    SearchIndex::openFile(path, &index, source, error);
    return index;
}

QVector<int> PackageIndex::search(const QString &query) const
{
    if (!m_search)
        return scan(query);
    const QStringList words = queryWords(query);
    QStringList longWords, shortWords;
    for (const QString &word : words) {
        const int length = servedLength(word);
        if (length >= 3)
            longWords << word;
        else if (length > 0)
            shortWords << word;
    }
    // Candidates from the trigrams when a word is long enough, else from the grams;
    // the words left over are checked on the candidates with the ranking.
    QVector<int> candidates;
    if (!longWords.isEmpty() && m_search->candidates(longWords, size(), &candidates))
        return rank(words, &candidates);
    if (longWords.isEmpty() && !shortWords.isEmpty()
        && m_search->gramCandidates(shortWords, size(), &candidates))
        return rank(words, &candidates);
    return rank(words, nullptr);
}

QVector<int> PackageIndex::rank(const QStringList &words, const QVector<int> *candidates) const
{
    // Ranks are small sums, so hits go to one bucket per rank in position (name)
    // order, and the buckets in rank order are the answer: no sort.
    QVector<QVector<int>> buckets(4 * words.size() + 1);
    const int count = candidates ? candidates->size() : size();
    for (int k = 0; k < count; ++k) {
        const int i = candidates ? candidates->at(k) : k;
        const int rank = rankOf(words, i);
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

int PackageIndex::rankOf(const QStringList &words, int i) const
{
    const Folded &f = m_folded.at(i);
    int rank = 0;
    for (const QString &word : words) {
        const int r = matchRank(word, f.name, f.summary, f.description);
        if (r < 0)
            return -1;
        rank += r;
    }
    return rank;
}

QVector<int> PackageIndex::scan(const QString &query) const
{
    const QStringList words = queryWords(query);
    QVector<QPair<int, int>> hits; // rank, index
    for (int i = 0; i < m_packages.size(); ++i) {
        const int rank = rankOf(words, i);
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
