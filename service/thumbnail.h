#ifndef THUMBNAIL_H
#define THUMBNAIL_H

#include <QByteArray>
#include <QString>

class ByteCache;

namespace Thumbnail {

constexpr int Size = 48;

// A PNG tile that tells packages apart at a glance: a mirrored 5x5 pattern in
// a colour, both derived from the name, so the same name always gives the same tile.
QByteArray png(const QString &name);

// png(name) from a cache shared by the whole process: a tile depends on the name alone,
// and drawing and encoding one costs far more than the rest of a search answer.
QByteArray cachedPng(const QString &name);
// The same from a cache of one's own.
QByteArray cachedPng(ByteCache &cache, const QString &name);

} // namespace Thumbnail

#endif
