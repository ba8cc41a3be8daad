#ifndef TREEWALK_H
#define TREEWALK_H

#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class QQuickItem;
class QQuickWindow;

// What a person meets on a small touch screen, read off a window's item tree as drawn:
// findings are controls (touch areas, buttons, text fields, scrolling views) smaller than a
// fingertip (44x44 logical pixels) or that a screen reader cannot name, text fields narrower than half the
// window, items showing outside the window, and
// texts cut off (clipped, elided or overflowing) among those that must be read whole, named by objectName.
// Gives {"window": [w, h], "dpr": r, "findings": [{kind, item, rect}],
//        "texts": {objectName: text}, "written": [every text shown, as plain text]}.
namespace TreeWalk {

QJsonObject walk(QQuickWindow *window, const QStringList &readWhole);

// Makes the walk a QML singleton, ZelkoTest 1.0 TreeWalk, whose walk(item) walks the
// item's window with the objectNames listed in ZELKO_TEST_READ_WHOLE (comma-separated);
// and turns accessibility on, so that the toolkit's controls name themselves.
void registerForQml();

} // namespace TreeWalk

class TreeWalker : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    Q_INVOKABLE QVariantMap walk(QQuickItem *item) const;
};

#endif
