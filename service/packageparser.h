#ifndef PACKAGEPARSER_H
#define PACKAGEPARSER_H

#include "packagelist.h"

#include <QByteArray>

// Reads the stanza formats of dpkg and apt into package lists, in name order, names made
// unique ("name:arch" where several architectures are listed), descriptions reflowed.
namespace PackageParser {

// The longest name a list holds, in bytes of UTF-8: a thumbnail's id, "pkg/<name>", must fit
// the frame's one-byte length. Packages with longer names are left out, so that details accept
// every name a search lists. Debian's longest names have some 75 characters.
constexpr int MaxNameBytes = 255 - 4;

// A dpkg status file: only the stanzas of installed packages count.
PackageList fromStatusText(const QByteArray &text);
// Package lists as apt keeps them (Packages files, `apt-cache dumpavail`): every stanza
// with a name counts, as they carry no Status field.
PackageList fromPackagesText(const QByteArray &text);

} // namespace PackageParser

#endif
