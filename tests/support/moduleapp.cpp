#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QUrl>

// What a QML author's own program looks like: its own engine, the module found
// through one import path, nothing of Zelko linked in, named as the author chose or not at all.
//   zelko-moduleapp IMPORT_PATH FILE.qml [ORGANIZATION APPLICATION]
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3 && argc != 5)
        return 2;
    if (argc == 5) {
        QCoreApplication::setOrganizationName(QString::fromLocal8Bit(argv[3]));
        QCoreApplication::setApplicationName(QString::fromLocal8Bit(argv[4]));
    }
    QQmlApplicationEngine engine;
    engine.addImportPath(QString::fromLocal8Bit(argv[1]));
    QObject::connect(&engine, &QQmlEngine::exit, &app, &QCoreApplication::exit);
    QObject::connect(&engine, &QQmlEngine::quit, &app, &QCoreApplication::quit);
    engine.load(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[2])));
    if (engine.rootObjects().isEmpty())
        return 3;
    return app.exec();
}
