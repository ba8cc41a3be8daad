#ifndef THUMBNAILCHECK_H
#define THUMBNAILCHECK_H

#include "thumbnail.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// Empty when shot (a whole screen at device pixel ratio 1) shows exactly the thumbnail the
// service made for each name where rects (Screens.thumbnailRects) say; else what differs.
inline QString compareThumbnails(const QImage &shot, const QJsonArray &rects)
{
    if (shot.isNull())
        return QStringLiteral("no screenshot");
    for (const QJsonValue &value : rects) {
        const QJsonObject r = value.toObject();
        const QString name = r.value("name").toString();
        const QImage want =
            QImage::fromData(Thumbnail::png(name), "PNG").convertToFormat(QImage::Format_RGB32);
        const QRect at(r.value("x").toInt(), r.value("y").toInt(), want.width(), want.height());
        if (!shot.rect().contains(at))
            return QStringLiteral("%1: thumbnail outside the screen").arg(name);
        int wrong = 0;
        for (int y = 0; y < want.height(); ++y)
            for (int x = 0; x < want.width(); ++x) {
                const QRgb a = want.pixel(x, y), b = shot.pixel(at.x() + x, at.y() + y);
                if (qAbs(qRed(a) - qRed(b)) > 2 || qAbs(qGreen(a) - qGreen(b)) > 2
                    || qAbs(qBlue(a) - qBlue(b)) > 2)
                    ++wrong;
            }
        if (wrong > 0)
            return QStringLiteral("%1: %2 of %3 pixels differ")
                .arg(name)
                .arg(wrong)
                .arg(want.width() * want.height());
    }
    return QString();
}

#endif
