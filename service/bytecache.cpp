#include "bytecache.h"

ByteCache::ByteCache(size_t maxBytes)
    : m_maxBytes(maxBytes)
{
}

size_t ByteCache::cost(const Entry &entry)
{
    return size_t(entry.value.size()) + size_t(entry.key.size()) + 96;
}

QByteArray ByteCache::value(const QByteArray &key, const std::function<QByteArray(bool *keep)> &make)
{
    if (m_maxBytes > 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_byKey.constFind(key);
        if (found != m_byKey.constEnd()) {
            m_entries.splice(m_entries.begin(), m_entries, found.value());
            return found.value()->value;
        }
    }
    bool keep = true;
    // A deep copy: the caller's key may be a view of a buffer it reuses (fromRawData).
    Entry entry{QByteArray(key.constData(), key.size()), make(&keep)};
    if (!keep || cost(entry) > m_maxBytes)
        return entry.value;
    std::lock_guard<std::mutex> lock(m_mutex);
    // Another thread may have made the same value meanwhile.
    const auto found = m_byKey.constFind(key);
    if (found != m_byKey.constEnd())
        return found.value()->value;
    m_bytes += cost(entry);
    m_entries.push_front(std::move(entry));
    m_byKey.insert(m_entries.front().key, m_entries.begin());
    while (m_bytes > m_maxBytes) {
        m_bytes -= cost(m_entries.back());
        m_byKey.remove(m_entries.back().key);
        m_entries.pop_back();
    }
    return m_entries.front().value;
}

size_t ByteCache::bytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

int ByteCache::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_entries.size());
}
