#include "packageindex.h"

#include <QFile>
#include <QHash>
#include <QStringList>

#include <algorithm>

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

} // namespace

PackageIndex PackageIndex::fromStatusText(const QByteArray &text)
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
        if (status.size() != 3 || status.at(2) != "installed")
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

    std::sort(index.m_packages.begin(), index.m_packages.end(), [](const Package &a, const Package &b) {
        return a.name != b.name ? a.name < b.name : a.architecture < b.architecture;
    });
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
    return index;
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
    auto it = std::lower_bound(m_packages.begin(), m_packages.end(), name,
                               [](const Package &p, const QString &n) { return p.name < n; });
    return it != m_packages.end() && it->name == name ? &*it : nullptr;
}

QVector<int> PackageIndex::search(const QString &query) const
{
    const QStringList words = query.simplified().toCaseFolded().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVector<QPair<int, int>> hits; // rank, index
    for (int i = 0; i < m_packages.size(); ++i) {
        const Folded &f = m_folded.at(i);
        int rank = 0;
        for (const QString &word : words) {
            const int r = matchRank(word, f.name, f.summary, f.description);
            if (r < 0) {
                rank = -1;
                break;
            }
            rank += r;
        }
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
