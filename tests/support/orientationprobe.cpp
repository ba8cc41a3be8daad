#include "qmlapplicationviewer.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

// The viewer in the orientation mode given (the enumerator's value), shown as the program
// shows it; once drawn, prints the screen's orientation and the one the window reports
// for its content, then quits.
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QmlApplicationViewer viewer;
    viewer.setOrientation(QmlApplicationViewer::ScreenOrientation(argc > 1 ? atoi(argv[1]) : 2));
    viewer.showExpanded();
    QObject::connect(
        &viewer, &QQuickWindow::frameSwapped, &app,
        [&viewer] {
            if (!viewer.isVisible())
                return;
            QScreen *screen = viewer.screen();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
            // Qt 5 tells a screen's turns only within this mask, which the locked modes leave empty.
            screen->setOrientationUpdateMask(Qt::PortraitOrientation | Qt::LandscapeOrientation
                                             | Qt::InvertedPortraitOrientation
                                             | Qt::InvertedLandscapeOrientation);
#endif
            printf("screen %d content %d\n", int(screen->orientation()), int(viewer.contentOrientation()));
            fflush(stdout);
            viewer.hide();
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    return app.exec();
}
