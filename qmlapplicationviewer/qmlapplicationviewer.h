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

    // Completes the viewer's interface; the program makes its viewer on the stack.
    static QmlApplicationViewer *create();
    // QtQuick aborts when it cannot create an OpenGL context, and the client must still
    // run without a GPU: unless a scene graph backend was asked for, this probes OpenGL
    // and falls back to the software one. Call before any window exists.
    static void chooseSceneGraph();

    void setMainQmlFile(const QString &file);
    // Completes the viewer's interface; the program's modules are found without it.
    void addImportPath(const QString &path);
    void setOrientation(ScreenOrientation orientation);
    void showExpanded();

private:
    // Completes the viewer's interface: showing another view than itself.
    QmlApplicationViewer(QQuickView *view, QWindow *parent);
    void init();

    QmlApplicationViewerPrivate *d;
    friend class QmlApplicationViewerTest;
};

// Completes the viewer's interface; the program makes its application itself.
QGuiApplication *createApplication(int &argc, char **argv);

#endif
