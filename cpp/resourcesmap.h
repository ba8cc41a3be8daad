#ifndef RESOURCESMAP_H
#define RESOURCESMAP_H

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <mutex>

// One cache entry, linked into the ring of entries ordered by use.
struct MapItem
{
    MapItem *pre = nullptr; // towards the most recently used end
    QString key;
    QByteArray data;         // shared with every copy handed out
    MapItem *next = nullptr; // towards the least recently used end

    ~MapItem()
    {
        pre = nullptr;
        next = nullptr;
    }
};

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

public slots:
    void setData(const QString &key, QByteArray data);
    QByteArray data(const QString &key);
    void remove(const QString &key);

private:
    explicit ResourcesMap(QObject *parent);
    QByteArray dataLocked(const QString &key);
    void unlink(MapItem *item);
    void pushFront(MapItem *item);

    QHash<QString, MapItem *> *m_hash;
    MapItem *m_ringHead;
    static ResourcesMap *m_resmap;
    // Static, so that it outlives the instance a reader on another thread may be
    // waiting for. A standard mutex, so thread checkers can see it.
    static std::mutex m_lock;
};

#endif
