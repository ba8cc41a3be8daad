#include "resourcesmap.h"
#include "zelkoqtroot.h"

#include <utility>

ResourcesMap *ResourcesMap::m_resmap = nullptr;
std::mutex ResourcesMap::m_lock;

ResourcesMap::ResourcesMap(QObject *parent)
    : QObject(parent)
    , m_hash(new QHash<QString, MapItem *>())
    , m_ringHead(new MapItem())
{
    m_hash->reserve(Capacity + 1);
    m_ringHead->pre = m_ringHead;
    m_ringHead->next = m_ringHead;
}

ResourcesMap::~ResourcesMap()
{
    std::lock_guard<std::mutex> locker(m_lock);
    if (m_resmap == this)
        m_resmap = nullptr;
    while (m_ringHead->pre != m_ringHead) {
        MapItem *item = m_ringHead->pre;
        unlink(item);
        delete item;
    }
    delete m_ringHead;
    m_ringHead = nullptr;
    m_hash->clear();
    delete m_hash;
    m_hash = nullptr;
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
    return m_hash->size();
}

void ResourcesMap::unlink(MapItem *item)
{
    item->pre->next = item->next;
    item->next->pre = item->pre;
}

void ResourcesMap::pushFront(MapItem *item)
{
    item->next = m_ringHead->next;
    item->next->pre = item;
    m_ringHead->next = item;
    item->pre = m_ringHead;
}

void ResourcesMap::setData(const QString &key, QByteArray data)
{
    std::lock_guard<std::mutex> locker(m_lock);
    MapItem *item = m_hash->value(key, nullptr);
    if (item) {
        unlink(item);
        item->data = std::move(data);
    } else {
        item = new MapItem();
        item->key = key;
        item->data = std::move(data);
        m_hash->insert(key, item);
    }
    pushFront(item);

    while (m_hash->size() > Capacity) {
        MapItem *oldest = m_ringHead->pre;
        if (oldest == m_ringHead)
            break;
        unlink(oldest);
        m_hash->remove(oldest->key);
        delete oldest;
    }
}

QByteArray ResourcesMap::data(const QString &key)
{
    std::lock_guard<std::mutex> locker(m_lock);
    return dataLocked(key);
}

QByteArray ResourcesMap::dataLocked(const QString &key)
{
    MapItem *item = m_hash->value(key, nullptr);
    if (!item)
        return QByteArray();
    unlink(item);
    pushFront(item);
    return item->data;
}

void ResourcesMap::remove(const QString &key)
{
    std::lock_guard<std::mutex> locker(m_lock);
    MapItem *item = m_hash->take(key);
    if (!item)
        return;
    unlink(item);
    delete item;
}
