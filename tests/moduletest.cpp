#include "qtinstall.h"
#include "skips.h"
#include "zelkostaticdata.h"

#include <QtTest>

#include <dlfcn.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
extern "C" void __asan_init();
#endif

// A program built without AddressSanitizer (the QML viewer) can load the plugin of a
// sanitized build only with the sanitizer's runtime loaded first.
static QString sanitizerRuntime()
{
#if defined(__SANITIZE_ADDRESS__)
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&__asan_init), &info) && info.dli_fname)
        return QString::fromLocal8Bit(info.dli_fname);
#endif
    return QString();
}

// The QML module as a QML author meets it: installed into a prefix of its own,
// imported by Qt's QML viewer (qmlscene; qml on Qt 6) with only the import path set,
// by a program with its own engine, and by the zelko program itself, each against
// the installed reference service at the address the client was built with (in a
// network of its own).
class ModuleTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void scenario_data();
    void scenario();
    void documentedExamples_data();
    void documentedExamples();

private:
    QString installed(const QString &relative) const { return m_prefix.filePath(relative); }
    QStringList unshare() const;
    QString viewer() const;
    // Runs command beside the installed service at the compiled-in address; its output.
    QByteArray runInOwnNetwork(const QStringList &command, const QString &runner, int *exitCode);

    QTemporaryDir m_prefix;
    QTemporaryDir m_home;
    bool m_asRoot = false;
};

static QByteArray run(const QString &program, const QStringList &args, int *exitCode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool done = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
    *exitCode = done ? p.exitCode() : -1;
    return p.readAll();
}

QStringList ModuleTest::unshare() const
{
    // A PID namespace too: the servers go with the command, whatever it does.
    QStringList args{QStringLiteral("--net"), QStringLiteral("--mount"), QStringLiteral("--pid"),
                     QStringLiteral("--fork"), QStringLiteral("--kill-child")};
    if (!m_asRoot)
        args.prepend(QStringLiteral("--map-root-user"));
    return args;
}

void ModuleTest::initTestCase()
{
    QVERIFY(m_prefix.isValid() && m_home.isValid());
    m_asRoot = geteuid() == 0;
    int code = 0;
    run(QStringLiteral("unshare"), unshare() << QStringLiteral("true"), &code);
    if (code != 0)
        ZELKO_SKIP_WITHOUT_TOOL("network namespaces (unshare, as root or with user namespaces)");

    const QByteArray log = run(QStringLiteral(ZELKO_CMAKE),
                               {QStringLiteral("--install"), QStringLiteral(ZELKO_BUILD_DIR),
                                QStringLiteral("--prefix"), m_prefix.path()},
                               &code);
    QVERIFY2(code == 0, log.constData());
    for (const char *file :
         {"lib/qml/Zelko/qmldir", "lib/qml/Zelko/libzelkoplugin.so", "lib/qml/Zelko/plugins.qmltypes",
          "bin/zelko", "bin/zelko-service", "share/zelko/certs/zelko-service.crt", "qml/Zelko/main.qml"})
        QVERIFY2(QFile::exists(installed(QLatin1String(file))), file);
}

void ModuleTest::scenario_data()
{
    QTest::addColumn<QString>("runner");
    QTest::newRow(ZELKO_QML_VIEWER) << "viewer";
    QTest::newRow("own engine") << "own engine";
    QTest::newRow("zelko, module on the import path") << "zelko";
}

// The service's feedback port and a port nothing else uses, as the build sets them
// (cmake/ZelkoServiceAddress.cmake); free whatever they are: the network is the test's own.
static const int httpsPort = ZELKO_LOCAL_SERVICE_HTTPS_PORT, stallPort = ZELKO_TEST_STALL_PORT;

QString ModuleTest::viewer() const
{
    const QString path = QtInstall::binaries() + QStringLiteral("/" ZELKO_QML_VIEWER);
    return QFileInfo(path).isExecutable() ? path : QString();
}

QByteArray ModuleTest::runInOwnNetwork(const QStringList &command, const QString &runner, int *exitCode)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config-") + runner));
    env.insert(QStringLiteral("HOME"), m_home.path());
    if (runner == QLatin1String("zelko"))
        env.insert(QStringLiteral("QML2_IMPORT_PATH"), installed(QStringLiteral("lib/qml")));
    if (command.first() == viewer() && !sanitizerRuntime().isEmpty())
        env.insert(QStringLiteral("INNETNS_PRELOAD"), sanitizerRuntime());
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(m_home.path());
    p.start(QStringLiteral("unshare"),
            unshare() << QStringLiteral(ZELKO_SOURCE_DIR "/tests/innetns.sh")
                      << installed(QStringLiteral("bin/zelko-service"))
                      << QStringLiteral(ZELKO_TEST_DATA "/dpkg-status") << ZelkoStaticData::serviceUrl()
                      << QString::number(httpsPort) << QString::number(stallPort) << command);
    const bool ended = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
    *exitCode = ended ? p.exitCode() : -1;
    return p.readAll();
}

void ModuleTest::scenario()
{
    QFETCH(QString, runner);
    QFile source(QStringLiteral(ZELKO_TEST_DATA "/module/scenario.qml"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray qml = source.readAll();
    qml.replace("@FEEDBACK_URL@", QStringLiteral("https://127.0.0.1:%1/feedback").arg(httpsPort).toUtf8());
    qml.replace("@STALL_URL@", QStringLiteral("http://127.0.0.1:%1/").arg(stallPort).toUtf8());
    qml.replace("@CERT_FILE@", installed(QStringLiteral("share/zelko/certs/zelko-service.crt")).toUtf8());

    QString file = m_home.filePath(QStringLiteral("scenario.qml"));
    QStringList command;
    const QString imports = installed(QStringLiteral("lib/qml"));
    if (runner == QLatin1String("viewer")) {
        if (viewer().isEmpty())
            ZELKO_SKIP_WITHOUT_TOOL(ZELKO_QML_VIEWER " (Debian: " ZELKO_QML_VIEWER_PACKAGE ")");
        command << viewer() << QStringLiteral("-I") << imports << file;
    } else if (runner == QLatin1String("own engine")) {
        command << QStringLiteral(ZELKO_MODULE_APP) << imports << file;
    } else {
        // The client's own folder holds the scenario as its main file.
        file = installed(QStringLiteral("qml/Zelko/main.qml"));
        command << installed(QStringLiteral("bin/zelko"));
    }
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(qml);
    out.close();

    int code = 0;
    const QByteArray log = runInOwnNetwork(command, runner, &code);
    QVERIFY2(code == 0, log.constData());
    QVERIFY2(log.contains("MODULE PASS"), log.constData());
    // The module registers nothing twice and warns of nothing, and the scenario uses nothing
    // that Qt calls deprecated (such as signal handlers without formal parameters on Qt 6).
    static const QRegularExpression diagnostic(
        QStringLiteral("MODULE FAIL|\\.qml:\\d+|[Ww]arning|deprecated"));
    QVERIFY2(!diagnostic.match(QString::fromUtf8(log)).hasMatch(), log.constData());
}

void ModuleTest::documentedExamples_data()
{
    QTest::addColumn<QByteArray>("qml");
    QFile doc(QStringLiteral(ZELKO_SOURCE_DIR "/docs/qml-api.md"));
    QVERIFY(doc.open(QIODevice::ReadOnly));
    const QByteArray text = doc.readAll();
    int count = 0;
    for (int at = text.indexOf("```qml\n"); at >= 0; at = text.indexOf("```qml\n", at)) {
        const int start = at + 7;
        const int end = text.indexOf("```", start);
        QVERIFY(end > start);
        const int line = text.left(start).count('\n') + 1;
        QTest::addRow("qml-api.md, line %d", line) << text.mid(start, end - start);
        at = end + 3;
        ++count;
    }
    QVERIFY2(count >= 3, "the QML examples were not found");
}

// Every QML example of the documentation, verbatim, through the QML viewer with only the
// import path set: it must end by itself with exit code 0 and without a QML diagnostic.
void ModuleTest::documentedExamples()
{
    QFETCH(QByteArray, qml);
    if (viewer().isEmpty())
        ZELKO_SKIP_WITHOUT_TOOL(ZELKO_QML_VIEWER " (Debian: " ZELKO_QML_VIEWER_PACKAGE ")");
    const QString file = m_home.filePath(QStringLiteral("example.qml"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(qml);
    out.close();
    int code = 0;
    const QByteArray log =
        runInOwnNetwork({viewer(), QStringLiteral("-I"), installed(QStringLiteral("lib/qml")), file},
                        QStringLiteral("docs"), &code);
    QVERIFY2(code == 0, log.constData());
    static const QRegularExpression diagnostic(
        QStringLiteral("example\\.qml:\\d+|Error:|Warning|warning|is not defined|Cannot"));
    QVERIFY2(!diagnostic.match(QString::fromUtf8(log)).hasMatch(), log.constData());
}

QTEST_GUILESS_MAIN(ModuleTest)
#include "moduletest.moc"
