#ifndef PACKAGEPARSER_H
#define PACKAGEPARSER_H

#include "packagelist.h"

#include <QByteArray>

// Reads the stanza formats of dpkg and apt into package lists, in name order, names made
// unique ("name:arch" where several architectures are listed), descriptions reflowed.
namespace PackageParser {

// A dpkg status file: only the stanzas of installed packages count.
PackageList fromStatusText(const QByteArray &text);
// Package lists as apt keeps them (Packages files, `apt-cache dumpavail`): every stanza
// with a name counts, as they carry no Status field.
PackageList fromPackagesText(const QByteArray &text);

} // namespace PackageParser

#endif
