#include "framewriter.h"
#include "processrun.h"
#include "qtinstall.h"
#include "skips.h"
#include "weston.h"
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
// the installed reference service at the address the author chose (in a network of
// its own).
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
    // What answers at the service's address.
    enum Service {
        Reachable,
        Unreachable,
        Refusing // every query, with service error 2
    };
    QString installed(const QString &relative) const { return m_prefix.filePath(relative); }
    QStringList unshare() const;
    QString viewer() const;
    // Runs command beside the installed service; its output.
    QByteArray runInOwnNetwork(const QStringList &command, const QString &runner, int *exitCode,
                               Service service = Reachable, bool wayland = false);

    QTemporaryDir m_prefix;
    // For the runs on a phone's window system; started by the first.
    Weston m_weston;
    QTemporaryDir m_home;
    bool m_asRoot = false;
};

static QByteArray run(const QString &program, const QStringList &args, int *exitCode)
{
    ProcessRun::Options merged;
    merged.mergeChannels = true;
    const ProcessRun run = ProcessRun::of(program, args, merged);
    *exitCode = run.exitCode;
    return run.out;
}

QStringList ModuleTest::unshare() const
{
    // A PID namespace too, with its own /proc (Qt finds its program there): the servers go
    // with the command, whatever it does.
    QStringList args{QStringLiteral("--net"),        QStringLiteral("--mount"),
                     QStringLiteral("--pid"),        QStringLiteral("--fork"),
                     QStringLiteral("--mount-proc"), QStringLiteral("--kill-child")};
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
         {ZELKO_INSTALL_QMLDIR "/Zelko/qmldir", ZELKO_INSTALL_QMLDIR "/Zelko/libzelkoplugin.so",
          ZELKO_INSTALL_QMLDIR "/Zelko/plugins.qmltypes", "bin/zelko", "bin/zelko-service",
          ZELKO_CLIENT_DIR "/qml/Zelko/main.qml"})
        QVERIFY2(QFile::exists(installed(QLatin1String(file))), file);
}

void ModuleTest::scenario_data()
{
    QTest::addColumn<QString>("runner");
    QTest::addColumn<bool>("wayland");
    QTest::addColumn<QString>("names"); // the program's organization/name, before and after
    // Qt's viewers name themselves; the own engine is named MyOrg/MyApp, or not at all.
    const char *viewerNames = QT_VERSION_MAJOR == 5 ? "QtProject/QtQmlViewer" : "QtProject/Qml Runtime";
    for (bool wayland : {false, true}) {
        const char *platform = wayland ? ", Wayland" : "";
        QTest::addRow(ZELKO_QML_VIEWER "%s", platform) << "viewer" << wayland << viewerNames;
        QTest::addRow("own engine%s", platform) << "own engine" << wayland << "MyOrg/MyApp";
        QTest::addRow("zelko, module on the import path%s", platform)
            << "zelko" << wayland << "Zelko/QtClient";
    }
    QTest::addRow("own engine, unnamed") << "own engine" << false << "/zelko-moduleapp";
}

// The service's ports and a port nothing else uses, as the build sets them
// (cmake/ZelkoServiceAddress.cmake); free whatever they are: the network is the test's own.
static const int httpsPort = ZELKO_LOCAL_SERVICE_HTTPS_PORT, stallPort = ZELKO_TEST_STALL_PORT;
// Where the scenario and the documented examples send their queries.
static const QString serviceUrl = QStringLiteral("http://127.0.0.1:%1/search").arg(ZELKO_LOCAL_SERVICE_PORT);

QString ModuleTest::viewer() const
{
    const QString path = QtInstall::binaries() + QStringLiteral("/" ZELKO_QML_VIEWER);
    return QFileInfo(path).isExecutable() ? path : QString();
}

QByteArray ModuleTest::runInOwnNetwork(const QStringList &command, const QString &runner, int *exitCode,
                                       Service service, bool wayland)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config-") + runner));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral("state")));
    // What the author's program prints is all that is printed.
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (service == Unreachable) {
        env.insert(QStringLiteral("INNETNS_NO_SERVICE"), QStringLiteral("1"));
    } else if (service == Refusing) {
        const QString refusal = m_home.filePath(QStringLiteral("refusal.bin"));
        QFile file(refusal);
        if (file.open(QIODevice::WriteOnly))
            file.write(FrameWriter::serviceError(1, 2));
        env.insert(QStringLiteral("INNETNS_SERVICE_ARGS"), QStringLiteral("--canned-answer ") + refusal);
    }
    if (runner == QLatin1String("zelko"))
        env.insert(QStringLiteral("QML2_IMPORT_PATH"), installed(QStringLiteral(ZELKO_INSTALL_QMLDIR)));
    // The compositor's socket is a path, which the command reaches from its own network.
    if (wayland)
        m_weston.addClientEnvironment(env);
    if (command.first() == viewer() && !sanitizerRuntime().isEmpty())
        env.insert(QStringLiteral("INNETNS_PRELOAD"), sanitizerRuntime());
    ProcessRun::Options options;
    options.env = env;
    options.mergeChannels = true;
    options.workingDirectory = m_home.path();
    options.ms = 90000;
    const ProcessRun run =
        ProcessRun::of(QStringLiteral("unshare"),
                       unshare() << QStringLiteral(ZELKO_SOURCE_DIR "/tests/scripts/innetns.sh")
                                 << installed(QStringLiteral("bin/zelko-service"))
                                 << QStringLiteral(ZELKO_TEST_DATA "/dpkg-status") << serviceUrl
                                 << QString::number(httpsPort) << QString::number(stallPort) << command,
                       options);
    *exitCode = run.exitCode;
    return run.out;
}

void ModuleTest::scenario()
{
    QFETCH(QString, runner);
    QFETCH(bool, wayland);
    QFETCH(QString, names);
    if (wayland && Weston::binary().isEmpty())
        ZELKO_SKIP_WITHOUT_TOOL("weston (scripts/deps.sh installs it)");
    if (wayland && !QFile::exists(m_weston.socketPath()))
        QVERIFY2(m_weston.start(QSize(480, 800)), qPrintable(m_weston.error()));
    QFile source(QStringLiteral(ZELKO_TEST_DATA "/module/scenario.qml"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray qml = source.readAll();
    qml.replace("@FEEDBACK_URL@", QStringLiteral("https://127.0.0.1:%1/feedback").arg(httpsPort).toUtf8());
    qml.replace("@STALL_URL@", QStringLiteral("http://127.0.0.1:%1/").arg(stallPort).toUtf8());
    qml.replace("@GARBAGE_URL@", QStringLiteral("http://127.0.0.1:%1/search").arg(stallPort + 1).toUtf8());
    qml.replace("@SERVICE_URL@", serviceUrl.toUtf8());
    qml.replace("@DEFAULT_URL@", ZelkoStaticData::serviceUrl().toUtf8());
    // The certificate the service makes at its start, in its state folder (runInOwnNetwork).
    qml.replace("@CERT_FILE@",
                m_home.filePath(QStringLiteral("state/zelko-service/zelko-service.crt")).toUtf8());
    qml.replace("@NAMES@", names.toUtf8());

    QString file = m_home.filePath(QStringLiteral("scenario.qml"));
    QStringList command;
    const QString imports = installed(QStringLiteral(ZELKO_INSTALL_QMLDIR));
    if (runner == QLatin1String("viewer")) {
        if (viewer().isEmpty())
            ZELKO_SKIP_WITHOUT_TOOL(ZELKO_QML_VIEWER " (Debian: " ZELKO_QML_VIEWER_PACKAGE ")");
        command << viewer() << QStringLiteral("-I") << imports << file;
    } else if (runner == QLatin1String("own engine")) {
        command << QStringLiteral(ZELKO_MODULE_APP) << imports << file;
        if (!names.startsWith(QLatin1Char('/')))
            command << names.split(QLatin1Char('/'));
    } else {
        // The client's own folder holds the scenario as its main file.
        file = installed(QStringLiteral(ZELKO_CLIENT_DIR "/qml/Zelko/main.qml"));
        command << installed(QStringLiteral("bin/zelko"));
    }
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(qml);
    out.close();

    // Run again, as after a restart: the settings of the first run come back.
    QDir config(m_home.filePath(QStringLiteral("config-") + runner));
    QVERIFY(config.removeRecursively());
    QByteArray log;
    for (const bool again : {false, true}) {
        int code = 0;
        log = runInOwnNetwork(command, runner, &code, Reachable, wayland);
        QVERIFY2(code == 0, log.constData());
        QVERIFY2(log.contains("MODULE PASS") && log.contains("MODULE ok restored") == again, log.constData());
    }
    // The program's own store; Zelko's where nothing named the program.
    const QString store = (names.startsWith(QLatin1Char('/')) ? "Zelko" : "") + names + ".conf";
    QVERIFY2(QFile::exists(config.filePath(store)), qPrintable(store));
    QCOMPARE(QFile::exists(config.filePath(QStringLiteral("Zelko/QtClient.conf"))), runner == "zelko");
    // Nothing but the scenario's own lines: the module is quiet, registers nothing twice,
    // warns of nothing, and the scenario uses nothing Qt calls deprecated (such as signal
    // handlers without formal parameters on Qt 6). zelko writes its debug lines as ever.
    const QRegularExpression ownLine(runner == QLatin1String("zelko")
                                         ? QStringLiteral("^(qml: MODULE ok |zelko\\.)")
                                         : QStringLiteral("^qml: MODULE ok "));
    // Qt's Wayland platform speaks for itself: Qt 5's whenever a window is shown full screen, as
    // zelko's is, and in a sanitizer build of the suite on the GL it is told not to load.
    for (const QByteArray &line : log.split('\n'))
        if (!line.isEmpty() && line != "qml: MODULE PASS"
            && !(wayland && line.startsWith("qt.qpa.wayland: ")))
            QVERIFY2(ownLine.match(QString::fromUtf8(line)).hasMatch(), log.constData());
}

void ModuleTest::documentedExamples_data()
{
    QTest::addColumn<QByteArray>("qml");
    QTest::addColumn<int>("service");
    QTest::addColumn<int>("exitCode");
    QFile doc(QStringLiteral(ZELKO_SOURCE_DIR "/docs/qml-api.md"));
    QVERIFY(doc.open(QIODevice::ReadOnly));
    const QByteArray text = doc.readAll();
    QList<QByteArray> examples;
    for (int at = text.indexOf("```qml\n"); at >= 0; at = text.indexOf("```qml\n", at)) {
        const int start = at + 7;
        const int end = text.indexOf("```", start);
        QVERIFY(end > start);
        examples.append(text.mid(start, end - start));
        at = end + 3;
    }
    // Per example, in the order of the page: its exit code with the service reachable,
    // unreachable and refusing every query. The search and the thumbnail say why they
    // failed; the settings example asks no service.
    const QList<QList<int>> exitCodes{{0, 1, 1}, {0, 1, 1}, {0, 0, 0}};
    QCOMPARE(examples.size(), exitCodes.size());
    const char *services[] = {"reachable", "unreachable", "refusing"};
    for (int i = 0; i < examples.size(); ++i)
        for (int service : {Reachable, Unreachable, Refusing})
            QTest::addRow("example %d, service %s", i + 1, services[service])
                << examples[i] << service << exitCodes[i][service];
}

// Every QML example of the documentation, verbatim, through the QML viewer with only the
// import path set: it must end by itself, whatever the service does, without a QML
// diagnostic; one that fails says why, naming the service's address.
void ModuleTest::documentedExamples()
{
    QFETCH(QByteArray, qml);
    QFETCH(int, service);
    QFETCH(int, exitCode);
    if (viewer().isEmpty())
        ZELKO_SKIP_WITHOUT_TOOL(ZELKO_QML_VIEWER " (Debian: " ZELKO_QML_VIEWER_PACKAGE ")");
    const QString file = m_home.filePath(QStringLiteral("example.qml"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(qml);
    out.close();
    int code = 0;
    const QByteArray log = runInOwnNetwork(
        {viewer(), QStringLiteral("-I"), installed(QStringLiteral(ZELKO_INSTALL_QMLDIR)), file},
        QStringLiteral("docs"), &code, Service(service));
    QVERIFY2(code == exitCode, log.constData());
    if (exitCode != 0)
        QVERIFY2(log.contains(serviceUrl.toUtf8()), log.constData());
    static const QRegularExpression diagnostic(
        QStringLiteral("example\\.qml:\\d+|Error:|Warning|warning|is not defined|Cannot"));
    QVERIFY2(!diagnostic.match(QString::fromUtf8(log)).hasMatch(), log.constData());
}

QTEST_GUILESS_MAIN(ModuleTest)
#include "moduletest.moc"
