#include "packagelist.h"

#include <algorithm>
#include <numeric>

QString PackageList::string(int i, Field f) const
{
    const std::string_view t = text(i, f);
    return QString::fromUtf8(t.data(), int(t.size()));
}

Package PackageList::at(int i) const
{
    Package p;
    p.name = string(i, Name);
    p.version = string(i, Version);
    p.architecture = string(i, Architecture);
    p.section = string(i, Section);
    p.maintainer = string(i, Maintainer);
    p.homepage = string(i, Homepage);
    p.depends = string(i, Depends);
    p.installedSizeKiB = installedSizeKiB(i);
    p.summary = string(i, Summary);
    p.description = string(i, Description);
    return p;
}

int PackageList::find(const QString &name) const
{
    const QByteArray utf8 = name.toUtf8();
    const std::string_view wanted(utf8.constData(), size_t(utf8.size()));
    // Compared as QStrings, as sortNames() ordered them: UTF-8 byte order differs past U+FFFF.
    const auto it = std::lower_bound(m_byName.begin(), m_byName.end(), name,
                                     [this](int i, const QString &n) { return string(i, Name) < n; });
    return it != m_byName.end() && text(*it, Name) == wanted ? *it : -1;
}

void PackageList::append(const Package &p)
{
    const QByteArray utf8[FieldCount] = {p.name.toUtf8(),
                                         p.version.toUtf8(),
                                         p.architecture.toUtf8(),
                                         p.section.toUtf8(),
                                         p.summary.toUtf8(),
                                         p.name.toCaseFolded().toUtf8(),
                                         p.summary.toCaseFolded().toUtf8(),
                                         p.description.toCaseFolded().toUtf8(),
                                         p.maintainer.toUtf8(),
                                         p.homepage.toUtf8(),
                                         p.depends.toUtf8(),
                                         p.description.toUtf8()};
    std::string_view texts[FieldCount];
    for (int f = 0; f < FieldCount; ++f)
        texts[f] = std::string_view(utf8[f].constData(), size_t(utf8[f].size()));
    append(texts, p.installedSizeKiB);
}

void PackageList::append(const std::string_view *texts, qint64 installedSizeKiB)
{
    for (int f = 0; f < FieldCount; ++f) {
        m_text.insert(m_text.end(), texts[f].begin(), texts[f].end());
        m_offsets.push_back(quint32(m_text.size()));
    }
    m_installedSize.push_back(installedSizeKiB);
}

void PackageList::sortNames()
{
    m_text.shrink_to_fit();
    m_offsets.shrink_to_fit();
    m_installedSize.shrink_to_fit();
    std::vector<QString> names(static_cast<size_t>(size()));
    for (int i = 0; i < size(); ++i)
        names[size_t(i)] = string(i, Name);
    m_byName.resize(size());
    std::iota(m_byName.begin(), m_byName.end(), 0);
    std::sort(m_byName.begin(), m_byName.end(), [&names](int a, int b) { return names[a] < names[b]; });
}
