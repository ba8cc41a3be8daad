#include "resourcesmap.h"
#include "zelkoqtroot.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

ResourcesMap *ResourcesMap::m_resmap = nullptr;
std::mutex ResourcesMap::m_lock;

namespace {

// Inline and unseeded, a few multiplications for a key of a few words: qHash's call into
// the library takes as long as the rest of a lookup. Collisions only lengthen a probe,
// which the table's size bounds whatever the keys.
inline uint hashOf(const QString &key)
{
    constexpr quint64 Mix = 0xff51afd7ed558ccdULL;
    const char *at = reinterpret_cast<const char *>(key.constData());
    size_t left = size_t(key.size()) * sizeof(QChar);
    quint64 h = 0x9e3779b97f4a7c15ULL ^ left;
    for (; left >= 8; left -= 8, at += 8) {
        quint64 word;
        std::memcpy(&word, at, 8);
        h = (h ^ word) * Mix;
        h ^= h >> 32;
    }
    for (; left > 0; left -= 2, at += 2) {
        quint16 unit;
        std::memcpy(&unit, at, 2);
        h = (h ^ unit) * Mix;
    }
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    return uint(h ^ (h >> 33));
}

} // namespace

ResourcesMap::ResourcesMap(QObject *parent)
    : QObject(parent)
{
    std::fill(std::begin(m_slots), std::end(m_slots), qint16(-1));
    for (int i = Capacity - 1; i >= 0; --i) {
        m_entries[i].older = m_free;
        m_free = i;
    }
    m_entries[Head].newer = Head;
    m_entries[Head].older = Head;
}

ResourcesMap::~ResourcesMap()
{
    std::lock_guard<std::mutex> locker(m_lock);
    if (m_resmap == this)
        m_resmap = nullptr;
}

ResourcesMap *ResourcesMap::getInstance()
{
    if (!m_resmap) {
        ResourcesMap *made = new ResourcesMap(ZelkoQtRoot::getInstance());
        std::lock_guard<std::mutex> locker(m_lock);
        m_resmap = made;
    }
    return m_resmap;
}

QByteArray ResourcesMap::dataIfCreated(const QString &key)
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_resmap ? m_resmap->dataLocked(key) : QByteArray();
}

int ResourcesMap::count() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_count;
}

int ResourcesMap::find(const QString &key, uint hash) const
{
    // Ends: the table always has empty slots.
    for (int slot = int(hash) & Mask;; slot = (slot + 1) & Mask) {
        const int entry = m_slots[slot];
        if (entry < 0)
            return -1;
        const Entry &e = m_entries[entry];
        if (e.hash == hash && e.key == key)
            return entry;
    }
}

void ResourcesMap::unlink(int entry)
{
    Entry &e = m_entries[entry];
    m_entries[e.newer].older = e.older;
    m_entries[e.older].newer = e.newer;
}

void ResourcesMap::pushFront(int entry)
{
    Entry &e = m_entries[entry];
    Entry &head = m_entries[Head];
    e.older = head.older;
    e.newer = Head;
    m_entries[e.older].newer = entry;
    head.older = entry;
}

// Takes the entry's slot out of the table; the entries after it in its probe run move
// back so that every lookup still meets them before an empty slot.
void ResourcesMap::dropSlot(int entry)
{
    int hole = int(m_entries[entry].hash) & Mask;
    while (m_slots[hole] != entry)
        hole = (hole + 1) & Mask;
    for (int next = (hole + 1) & Mask; m_slots[next] >= 0; next = (next + 1) & Mask) {
        const int home = int(m_entries[m_slots[next]].hash) & Mask;
        if (((next - home) & Mask) >= ((next - hole) & Mask)) {
            m_slots[hole] = m_slots[next];
            hole = next;
        }
    }
    m_slots[hole] = -1;
}

// Out of the ring and the table, its key and bytes let go, onto the free list.
void ResourcesMap::release(int entry)
{
    unlink(entry);
    dropSlot(entry);
    Entry &e = m_entries[entry];
    e.key = QString();
    e.data = ByteSlice();
    e.older = m_free;
    m_free = entry;
    --m_count;
}

void ResourcesMap::put(QString &&key, ByteSlice &&data)
{
    const uint hash = hashOf(key);
    int entry = find(key, hash);
    if (entry >= 0) {
        unlink(entry);
        m_entries[entry].data = std::move(data);
    } else {
        // Full: the least recently used entry goes first, as it would once the new one is in.
        if (m_free < 0)
            release(m_entries[Head].newer);
        entry = m_free;
        Entry &e = m_entries[entry];
        m_free = e.older;
        e.key = std::move(key);
        e.data = std::move(data);
        e.hash = hash;
        ++m_count;
        int slot = int(hash) & Mask;
        while (m_slots[slot] >= 0)
            slot = (slot + 1) & Mask;
        m_slots[slot] = qint16(entry);
    }
    pushFront(entry);
}

void ResourcesMap::setData(const QString &key, QByteArray data)
{
    std::lock_guard<std::mutex> locker(m_lock);
    put(QString(key), ByteSlice(std::move(data)));
}

void ResourcesMap::store(QVector<ZelkoFrameReport::Resource> resources)
{
    std::lock_guard<std::mutex> locker(m_lock);
    for (ZelkoFrameReport::Resource &resource : resources)
        put(std::move(resource.id), std::move(resource.data));
}

QByteArray ResourcesMap::data(const QString &key)
{
    std::lock_guard<std::mutex> locker(m_lock);
    return dataLocked(key);
}

QByteArray ResourcesMap::dataLocked(const QString &key)
{
    const int entry = find(key, hashOf(key));
    if (entry < 0)
        return QByteArray();
    unlink(entry);
    pushFront(entry);
    ByteSlice &data = m_entries[entry].data;
    if (!data.isWhole()) {
        try {
            data = data.toByteArray();
        } catch (...) {
            // No memory for the copy: not shown this time, still held.
            return QByteArray();
        }
    }
    return data.toByteArray();
}

void ResourcesMap::remove(const QString &key)
{
    std::lock_guard<std::mutex> locker(m_lock);
    const int entry = find(key, hashOf(key));
    if (entry >= 0)
        release(entry);
}
