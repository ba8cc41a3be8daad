#ifndef ZELKOIMAGEPROVIDER_H
#define ZELKOIMAGEPROVIDER_H

#include <QQuickImageProvider>

// "image://res/<id>": decodes the cached resource <id> anew on every request.
class ZelkoImageProvider : public QQuickImageProvider
{
public:
    explicit ZelkoImageProvider(QQmlImageProviderBase::ImageType type);
    ~ZelkoImageProvider() override;

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};

#endif
