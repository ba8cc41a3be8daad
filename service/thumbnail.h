#ifndef THUMBNAIL_H
#define THUMBNAIL_H

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstddef>
#include <list>
#include <mutex>

namespace Thumbnail {

constexpr int Size = 48;

// A PNG tile that tells packages apart at a glance: a mirrored 5x5 pattern in
// a colour, both derived from the name, so the same name always gives the same tile.
QByteArray png(const QString &name);

// png(name) from a cache shared by the whole process: a tile depends on the name alone,
// and drawing and encoding one costs far more than the rest of a search answer.
QByteArray cachedPng(const QString &name);

} // namespace Thumbnail

// The tiles used last, up to a number of bytes (names and bookkeeping counted); the
// least recently used go first. Thread-safe; tiles are drawn outside the lock.
class ThumbnailCache
{
public:
    explicit ThumbnailCache(size_t maxBytes);

    QByteArray png(const QString &name);

    size_t bytes() const;
    int count() const;

private:
    struct Entry
    {
        QString name;
        QByteArray png;
    };
    static size_t cost(const Entry &entry);

    const size_t m_maxBytes;
    mutable std::mutex m_mutex;
    std::list<Entry> m_entries; // most recently used first
    QHash<QString, std::list<Entry>::iterator> m_byName;
    size_t m_bytes = 0;
};

#endif
