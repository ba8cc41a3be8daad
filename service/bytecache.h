#ifndef BYTECACHE_H
#define BYTECACHE_H

#include <QByteArray>
#include <QHash>

#include <cstddef>
#include <functional>
#include <list>
#include <mutex>

// The values used last, up to a number of bytes (keys and bookkeeping counted); the
// least recently used go first. Thread-safe; values are made outside the lock, so a
// slow one holds up no other lookup.
class ByteCache
{
public:
    explicit ByteCache(size_t maxBytes);

    // The value kept for key, or make()'s on a miss, kept unless make clears *keep.
    QByteArray value(const QByteArray &key, const std::function<QByteArray(bool *keep)> &make);

    size_t bytes() const;
    int count() const;

private:
    struct Entry
    {
        QByteArray key;
        QByteArray value;
    };
    static size_t cost(const Entry &entry);

    const size_t m_maxBytes;
    mutable std::mutex m_mutex;
    std::list<Entry> m_entries; // most recently used first
    QHash<QByteArray, std::list<Entry>::iterator> m_byKey;
    size_t m_bytes = 0;
};

#endif
