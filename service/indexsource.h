#ifndef INDEXSOURCE_H
#define INDEXSOURCE_H

#include "packageindex.h"

#include <QDateTime>
#include <QString>

// Where the service's packages come from: the dpkg database (the installed
// packages), a package list file, or the whole archive as apt knows it after
// `apt-get update`.
struct IndexSource
{
    enum Kind {
        Status,
        PackagesFile,
        Archive
    };
    Kind kind = Status;
    QString path; // Status and PackagesFile

    // Also what an index file records, so one built from another source is not reused.
    QString describe() const;
    // The newest of the files read; invalid when none is there.
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
