#ifndef THUMBNAIL_H
#define THUMBNAIL_H

#include <QByteArray>
#include <QString>

namespace Thumbnail {

constexpr int Size = 48;

// A PNG tile that tells packages apart at a glance: a mirrored 5x5 pattern in
// a colour, both derived from the name, so the same name always gives the same tile.
QByteArray png(const QString &name);

} // namespace Thumbnail

#endif
