#ifndef RESOURCESMAP_H
#define RESOURCESMAP_H

#include "byteslice.h"
#include "zelkoframereport.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

#include <mutex>

// The process-wide cache of named resources: at most 100 entries, the least
// recently stored or read one dropped first. Lookup, store and eviction are O(1).
class ResourcesMap : public QObject
{
    Q_OBJECT
public:
    // constexpr, so it is defined wherever it is bound to a reference (qMin, QCOMPARE).
    static constexpr int Capacity = 100;

    static ResourcesMap *getInstance();
    ~ResourcesMap() override;

    // For QtQuick's image thread: reads through the cache only if it exists,
    // since objects of the GUI thread's tree cannot be made from another thread.
    static QByteArray dataIfCreated(const QString &key);
    // Number of entries held; for tests and tools.
    int count() const;
    // A frame's resources in order, as setData would store them one by one, under one
    // lock; their ids and slices are moved in. Each entry keeps its slice of the frame
    // until it is first read.
    void store(QVector<ZelkoFrameReport::Resource> resources);

public slots:
    void setData(const QString &key, QByteArray data);
    QByteArray data(const QString &key);
    void remove(const QString &key);

private:
    // The entries live in one array made with the cache, so that storing, reading and
    // evicting allocate nothing; they are linked in a ring ordered by use.
    struct Entry
    {
        QString key;
        // Handed out shared once it is an array of its own: a slice of a frame
        // becomes one when first read.
        ByteSlice data;
        uint hash = 0;
        int newer = -1; // towards the most recently used end
        int older = -1; // towards the least recently used end; the free list's link
    };
    // Open addressing over entry indices: a power of two, at least twice Capacity, so
    // that probes stay short and always meet an empty slot.
    static constexpr int Slots = 256;
    static constexpr int Mask = Slots - 1;
    static_assert(Slots >= 2 * (Capacity + 1) && (Slots & Mask) == 0, "slot table too small");
    // The ring's head, never in the slot table: its older neighbour is the most recently
    // used entry, its newer one the least recently used.
    static constexpr int Head = Capacity;

    explicit ResourcesMap(QObject *parent);
    QByteArray dataLocked(const QString &key);
    void put(QString &&key, ByteSlice &&data);
    int find(const QString &key, uint hash) const;
    void unlink(int entry);
    void pushFront(int entry);
    void dropSlot(int entry);
    void release(int entry);

    Entry m_entries[Capacity + 1];
    qint16 m_slots[Slots];
    int m_count = 0;
    int m_free = -1;
    static ResourcesMap *m_resmap;
    // Static, so that it outlives the instance a reader on another thread may be
    // waiting for. A standard mutex, so thread checkers can see it.
    static std::mutex m_lock;
};

#endif
