#ifndef QMLAPPLICATIONVIEWER_H
#define QMLAPPLICATIONVIEWER_H

#include <QQuickView>

class QGuiApplication;
class QmlApplicationViewerPrivate;

// The program's single top-level window: shows the QML interface full screen,
// finds QML files installed beside the program and closes when QML quits.
class QmlApplicationViewer : public QQuickView
{
    Q_OBJECT
public:
    enum ScreenOrientation {
        ScreenOrientationLockPortrait,
        ScreenOrientationLockLandscape,
        ScreenOrientationAuto
    };

    explicit QmlApplicationViewer(QWindow *parent = nullptr);
    ~QmlApplicationViewer() override;

    static QmlApplicationViewer *create();

    void setMainQmlFile(const QString &file);
    void addImportPath(const QString &path);
    void setOrientation(ScreenOrientation orientation);
    void showExpanded();

private:
    QmlApplicationViewer(QQuickView *view, QWindow *parent);
    void init();

    QmlApplicationViewerPrivate *d;
    friend class QmlApplicationViewerTest;
};

QGuiApplication *createApplication(int &argc, char **argv);

#endif
