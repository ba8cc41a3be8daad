// The reference for start-up: a bare QQuickView showing a QML file full screen,
// as the client does, with nothing else.

#include <QGuiApplication>
#include <QQuickView>
#include <QUrl>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QQuickView view;
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setSource(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
    view.showFullScreen();
    return app.exec();
}
