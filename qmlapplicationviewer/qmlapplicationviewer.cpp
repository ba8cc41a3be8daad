#include "qmlapplicationviewer.h"
#include "qmlapplicationviewer_p.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QQmlEngine>
#include <QSGRendererInterface>
#include <QScreen>

QString QmlApplicationViewerPrivate::adjustPath(const QString &path)
{
    // Plain text substitution on purpose: installed trees are <prefix>/bin and
    // <prefix>/qml, and a path that exists nowhere is left for the engine to resolve.
    const QString pathInInstallDir =
        QStringLiteral("%1/../%2").arg(QCoreApplication::applicationDirPath(), path);
    if (QFileInfo::exists(pathInInstallDir))
        return pathInInstallDir;
    return path;
}

QmlApplicationViewer::QmlApplicationViewer(QWindow *parent)
    : QQuickView(parent)
    , d(new QmlApplicationViewerPrivate(this))
{
    init();
}

QmlApplicationViewer::QmlApplicationViewer(QQuickView *view, QWindow *parent)
    : QQuickView(parent)
    , d(new QmlApplicationViewerPrivate(view))
{
    init();
}

void QmlApplicationViewer::init()
{
    connect(d->view->engine(), &QQmlEngine::quit, d->view, &QWindow::close);
    d->view->setResizeMode(QQuickView::SizeRootObjectToView);
}

QmlApplicationViewer::~QmlApplicationViewer()
{
    delete d;
}

QmlApplicationViewer *QmlApplicationViewer::create()
{
    return new QmlApplicationViewer();
}

void QmlApplicationViewer::setMainQmlFile(const QString &file)
{
    d->mainQmlFile = QmlApplicationViewerPrivate::adjustPath(file);
    d->view->setSource(QUrl::fromLocalFile(d->mainQmlFile));
}

void QmlApplicationViewer::addImportPath(const QString &path)
{
    d->view->engine()->addImportPath(QmlApplicationViewerPrivate::adjustPath(path));
}

void QmlApplicationViewer::setOrientation(ScreenOrientation orientation)
{
    // No orientation attributes exist on a QWindow: locked modes report a fixed
    // content orientation, auto follows the screen.
    disconnect(d->followScreen);
    switch (orientation) {
    case ScreenOrientationLockPortrait:
        reportContentOrientationChange(Qt::PortraitOrientation);
        break;
    case ScreenOrientationLockLandscape:
        reportContentOrientationChange(Qt::LandscapeOrientation);
        break;
    case ScreenOrientationAuto:
    default:
        if (QScreen *s = screen()) {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
            // Qt 5 reports no turn outside this mask, and it starts empty. Set before the
            // read below, which otherwise gives the primary orientation, not the current one.
            s->setOrientationUpdateMask(Qt::PortraitOrientation | Qt::LandscapeOrientation
                                        | Qt::InvertedPortraitOrientation | Qt::InvertedLandscapeOrientation);
#endif
            reportContentOrientationChange(s->orientation());
            d->followScreen =
                connect(s, &QScreen::orientationChanged, this, &QWindow::reportContentOrientationChange);
        }
        break;
    }
}

void QmlApplicationViewer::showExpanded()
{
    d->view->showFullScreen();
}

QGuiApplication *createApplication(int &argc, char **argv)
{
    return new QGuiApplication(argc, argv);
}

namespace {

bool openGlUsable()
{
    QOpenGLContext context;
    if (!context.create())
        return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return false;
    context.doneCurrent();
    return true;
}

} // namespace

void QmlApplicationViewer::chooseSceneGraph()
{
    if (!QQuickWindow::sceneGraphBackend().isEmpty() || openGlUsable())
        return;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
#else
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
#endif
}
