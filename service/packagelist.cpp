#include "packagelist.h"

#include <algorithm>
#include <numeric>

const Package *PackageList::find(const QString &name) const
{
    const auto it = std::lower_bound(byName.begin(), byName.end(), name,
                                     [this](int i, const QString &n) { return packages.at(i).name < n; });
    return it != byName.end() && packages.at(*it).name == name ? &packages.at(*it) : nullptr;
}

void PackageList::append(const Package &p)
{
    append(p, {p.name.toCaseFolded(), p.summary.toCaseFolded(), p.description.toCaseFolded()});
}

void PackageList::append(const Package &p, const Folded &f)
{
    packages.append(p);
    folded.append(f);
}

void PackageList::sortNames()
{
    byName.resize(packages.size());
    std::iota(byName.begin(), byName.end(), 0);
    std::sort(byName.begin(), byName.end(),
              [this](int a, int b) { return packages.at(a).name < packages.at(b).name; });
}
