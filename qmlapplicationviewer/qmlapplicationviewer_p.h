#ifndef QMLAPPLICATIONVIEWER_P_H
#define QMLAPPLICATIONVIEWER_P_H

#include <QMetaObject>
#include <QString>

class QQuickView;

class QmlApplicationViewerPrivate
{
    explicit QmlApplicationViewerPrivate(QQuickView *view_)
        : view(view_)
    {
    }

    QString mainQmlFile;
    QQuickView *view;
    QMetaObject::Connection followScreen;

    static QString adjustPath(const QString &path);

    friend class QmlApplicationViewer;
    friend class QmlApplicationViewerTest;
};

#endif
