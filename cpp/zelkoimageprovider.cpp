#include "zelkoimageprovider.h"
#include "resourcesmap.h"

#include <QCoreApplication>
#include <QThread>

ZelkoImageProvider::ZelkoImageProvider(QQmlImageProviderBase::ImageType type)
    : QQuickImageProvider(type)
{
}

ZelkoImageProvider::~ZelkoImageProvider() = default;

QImage ZelkoImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    Q_UNUSED(requestedSize);
    // Asynchronous images come from QtQuick's loader thread, which may only read.
    const bool guiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    const QByteArray bytes =
        guiThread ? ResourcesMap::getInstance()->data(id) : ResourcesMap::dataIfCreated(id);
    QImage image;
    if (!bytes.isEmpty()) {
        image.loadFromData(bytes);
        if (size)
            *size = image.size();
    }
    return image;
}
