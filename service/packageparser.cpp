#include "packageparser.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QVector>

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

// Stanzas come in any order; the list is in name order, names unique.
PackageList fromStanzas(const QByteArray &text, bool installedOnly)
{
    QVector<Package> packages;
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
        packages.append(p);
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

    std::stable_sort(packages.begin(), packages.end(), [](const Package &a, const Package &b) {
        return a.name != b.name ? a.name < b.name : a.architecture < b.architecture;
    });
    // Lists put together from several sources may name a package twice; the first wins.
    packages.erase(std::unique(packages.begin(), packages.end(),
                               [](const Package &a, const Package &b) {
                                   return a.name == b.name && a.architecture == b.architecture;
                               }),
                   packages.end());
    // Multi-arch installs list one name once per architecture; names must stay unique
    // because they name the thumbnails.
    for (int i = 0; i < packages.size(); ++i) {
        const bool before = i > 0 && packages[i - 1].name.section(':', 0, 0) == packages[i].name;
        const bool after = i + 1 < packages.size() && packages[i + 1].name == packages[i].name;
        if (before || after)
            packages[i].name += QLatin1Char(':') + packages[i].architecture;
    }
    PackageList list;
    for (const Package &p : qAsConst(packages)) {
        if (p.name.toUtf8().size() <= PackageParser::MaxNameBytes)
            list.append(p);
    }
    list.sortNames();
    return list;
}

} // namespace

PackageList PackageParser::fromStatusText(const QByteArray &text)
{
    return fromStanzas(text, true);
}

PackageList PackageParser::fromPackagesText(const QByteArray &text)
{
    return fromStanzas(text, false);
}
