#ifndef INDEXSOURCE_H
#define INDEXSOURCE_H

#include "packageindex.h"

#include <QDateTime>
#include <QString>

// Where the service's packages come from: the installed packages as dpkg-query tells
// them, a dpkg status file, a package list file, or the whole archive as apt knows it
// after `apt-get update`.
struct IndexSource
{
    enum Kind {
        Installed,
        Status,
        PackagesFile,
        Archive
    };
    Kind kind = Installed;
    QString path; // Status and PackagesFile

    // Also what an index file records, so one built from another source is not reused.
    QString describe() const;
    // The newest of the files read; invalid when none is there. The installed packages have
    // no time of change that dpkg tells: now, so that an index of them is built anew.
    QDateTime lastModified() const;
    // Parsed, without a full-text index.
    PackageIndex read(QString *error) const;
};

// The packages with their full-text index. With an index file: read from it
// while it was built from this source and is newer than it, otherwise built from
// the source and written there first. Without one: built in memory. note tells
// which of these happened.
PackageIndex loadPackageIndex(const IndexSource &source, const QString &indexFile, QString *note,
                              QString *error);

#endif
