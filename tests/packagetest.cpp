#include "processrun.h"
#include "qtinstall.h"
#include "skips.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QImage>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

// The Debian packages as built: the four of dpkg-buildpackage (debian/), named by
// ZELKO_PACKAGES (colon-separated) once built, or else the one cpack makes of this build,
// as the Qt 6 and ARM builds ship: their control fields, which holds what, and the client
// run from an unpacked copy, as it runs on a handset.
class PackageTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void controlFields();
    void holds_data();
    void holds();
    void dependsOnLinkedLibraries_data();
    void dependsOnLinkedLibraries();
    void dependsOnNoOtherQt();
    void dependsOnImportedQmlModules();
    void installsQmlFolder_data();
    void installsQmlFolder();
    void installsFiles_data();
    void installsFiles();
    void installsPrograms();
    void serviceAsConfigured();
    void launcherFiles_data();
    void launcherFiles();
    void desktopEntryStartsClient();
    void everythingWhereTheFhsSays();
    void installedClientRuns();

private:
    struct Package
    {
        QMap<QString, QString> fields;
        QStringList depends; // package names only, without versions
        QStringList files;   // paths without the leading "./"
    };
    // The package that holds the path (relative to /), or "".
    QString owner(const QString &path) const;
    QString unpacked(const QString &path) const { return m_root.filePath(path); }

    QTemporaryDir m_root;
    QMap<QString, Package> m_packages; // by name
};

// The build's ZELKO_BUILD_SERVICE: whether the packages carry the reference service.
static const bool hasService = ZELKO_PACKAGE_HAS_SERVICE;
// Where things are, relative to / (cmake/ZelkoInstallDirs.cmake, with the prefix /usr).
static const QString client = QStringLiteral("usr/" ZELKO_CLIENT_DIR);
static const QString module = QStringLiteral("usr/" ZELKO_INSTALL_QMLDIR "/Zelko");
static const QString unit = QStringLiteral(ZELKO_SYSTEMD_UNITDIR).startsWith('/')
                                ? QStringLiteral(ZELKO_SYSTEMD_UNITDIR "/zelko-service.service").mid(1)
                                : QStringLiteral("usr/" ZELKO_SYSTEMD_UNITDIR "/zelko-service.service");

static QByteArray run(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    const ProcessRun run = ProcessRun::of(program, args);
    if (exitCode)
        *exitCode = run.exitCode;
    return run.out;
}

QString PackageTest::owner(const QString &path) const
{
    for (auto it = m_packages.begin(); it != m_packages.end(); ++it)
        if (it->files.contains(path))
            return it.key();
    return QString();
}

void PackageTest::initTestCase()
{
    const QString named = qEnvironmentVariable("ZELKO_PACKAGES", QStringLiteral(ZELKO_PACKAGE_FILE));
    QVERIFY(m_root.isValid());
    for (const QString &file : named.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        QVERIFY2(QFile::exists(file), qPrintable(file + QStringLiteral(" was not built")));
        // Unpacked without dpkg's database: no root needed and the system stays untouched.
        int code = 0;
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), file, m_root.path()}, &code);
        QCOMPARE(code, 0);
        Package package;
        for (const char *field : {"Package", "Version", "Architecture", "Depends"}) {
            const QByteArray value = run(QStringLiteral("dpkg-deb"),
                                         {QStringLiteral("-f"), file, QString::fromLatin1(field)}, &code);
            QCOMPARE(code, 0);
            package.fields.insert(QString::fromLatin1(field), QString::fromUtf8(value).trimmed());
        }
        // "a (>= 1), b | c" -> a, b, c
        for (const QString &item : package.fields.value(QStringLiteral("Depends"))
                                       .split(QRegularExpression(QStringLiteral("[,|]")))) {
            const QString name =
                item.trimmed().section(QLatin1Char(' '), 0, 0).section(QLatin1Char(':'), 0, 0);
            if (!name.isEmpty())
                package.depends.append(name);
        }
        // "-rwxr-xr-x root/root 1 2026-12-09 10:00 ./usr/bin/zelko -> ../lib/zelko/bin/zelko"
        for (const QByteArray &line :
             run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), file}).split('\n')) {
            const QString entry = QString::fromUtf8(line).section(QStringLiteral(" ./"), 1);
            if (!entry.isEmpty() && !entry.endsWith(QLatin1Char('/')))
                package.files.append(entry.section(QStringLiteral(" -> "), 0, 0));
        }
        m_packages.insert(package.fields.value(QStringLiteral("Package")), package);
    }
    QVERIFY(!m_packages.isEmpty());
}

void PackageTest::controlFields()
{
    for (auto it = m_packages.begin(); it != m_packages.end(); ++it) {
        QCOMPARE(it->fields.value(QStringLiteral("Version")), QStringLiteral(ZELKO_VERSION));
        QCOMPARE(it->fields.value(QStringLiteral("Architecture")), QStringLiteral(ZELKO_DEB_ARCH));
    }
}

// Split by who installs it: a phone that wants the client gets no server, a server no
// Qt Quick, another program the module alone. One package when cpack made it.
void PackageTest::holds_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("package");
    const bool split = m_packages.size() > 1;
    const auto row = [split](const QString &path, const char *package) {
        QTest::newRow(qPrintable(path)) << path << QString::fromLatin1(split ? package : "zelko");
    };
    row(client + "/bin/zelko", "zelko");
    row("usr/bin/zelko", "zelko");
    row(client + "/qml/Zelko/main.qml", "zelko");
    row(client + "/translations/zelko_de.qm", "zelko");
    row("usr/share/applications/org.example.zelko.desktop", "zelko");
    row("usr/share/man/man1/zelko.1" + QString(split ? ".gz" : ""), "zelko");
    row(module + "/libzelkoplugin.so", "qml-module-zelko");
    row(module + "/qmldir", "qml-module-zelko");
    row("usr/bin/zelko-frame", "zelko-tools");
    row("usr/share/man/man1/zelko-frame.1" + QString(split ? ".gz" : ""), "zelko-tools");
    if (hasService) {
        row("usr/bin/zelko-service", "zelko-service");
        row(unit, "zelko-service");
        row("usr/share/man/man1/zelko-service.1" + QString(split ? ".gz" : ""), "zelko-service");
    }
}

void PackageTest::holds()
{
    QFETCH(QString, path);
    QFETCH(QString, package);
    QCOMPARE(owner(path), package);
    if (m_packages.size() > 1 && package == QLatin1String("zelko")) {
        // The client alone installs no server: not the service, nor what only it needs.
        for (const char *server : {"zelko-service", "libsqlite3-0", "libdeflate0", "libssl3", "libsystemd0"})
            QVERIFY2(!m_packages.value(package).depends.contains(QLatin1String(server)), server);
    }
}

void PackageTest::dependsOnLinkedLibraries_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("library");
    // What each program links, as dpkg-shlibdeps names it on Debian 12, for the Qt of the build.
    for (const char *name : {"libc6", "libstdc++6", "zlib1g"})
        QTest::addRow("zelko: %s", name) << client + "/bin/zelko" << QString::fromLatin1(name);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    for (const char *name :
         {"libqt6core6", "libqt6gui6", "libqt6network6", "libqt6qml6", "libqt6quick6", "libqt6dbus6"})
#else
    for (const char *name :
         {"libqt5core5a", "libqt5gui5", "libqt5network5", "libqt5qml5", "libqt5quick5", "libqt5dbus5"})
#endif
        QTest::addRow("zelko: %s", name) << client + "/bin/zelko" << QString::fromLatin1(name);
    // zelko-service's search index, what deflates its answers, and its journal.
    if (hasService) {
        for (const char *name : {"libsqlite3-0", "libdeflate0", "libsystemd0"})
            QTest::addRow("zelko-service: %s", name) << "usr/bin/zelko-service" << QString::fromLatin1(name);
    }
}

void PackageTest::dependsOnLinkedLibraries()
{
    QFETCH(QString, program);
    QFETCH(QString, library);
    const Package package = m_packages.value(owner(program));
    QVERIFY2(package.depends.contains(library), qPrintable(package.fields.value(QStringLiteral("Depends"))));
}

void PackageTest::dependsOnNoOtherQt()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    static const QRegularExpression other(QStringLiteral("^(libqt5|qml-module-|qt5-)"));
#else
    static const QRegularExpression other(QStringLiteral("^(libqt6|qml6-module-|qt6-)"));
#endif
    for (const Package &package : qAsConst(m_packages))
        for (const QString &depends : package.depends)
            QVERIFY2(!other.match(depends).hasMatch(),
                     qPrintable(package.fields.value(QStringLiteral("Depends"))));
}

// QML modules load at run time, so no library dependency brings them in: every
// module the installed screens import must come from a package the client depends on.
void PackageTest::dependsOnImportedQmlModules()
{
    const QString scanner = QtInstall::buildTools() + QStringLiteral("/qmlimportscanner");
    if (!QFileInfo(scanner).isExecutable())
        ZELKO_SKIP_WITHOUT_TOOL("qmlimportscanner (Debian: " ZELKO_QML_TOOLS_PACKAGE ")");
    const QString qmlDir = QtInstall::qmlModules();
    int code = 0;
    const QByteArray scan = run(
        scanner,
        {QStringLiteral("-rootPath"), unpacked(client + "/qml/Zelko"), QStringLiteral("-importPath"), qmlDir},
        &code);
    QCOMPARE(code, 0);
    const QJsonArray imports = QJsonDocument::fromJson(scan).array();
    const Package zelko = m_packages.value(owner(client + "/bin/zelko"));
    QStringList modules;
    for (const QJsonValue &v : imports) {
        const QJsonObject o = v.toObject();
        // The client's own module is built into zelko and has no path.
        const QString path = o.value(QStringLiteral("path")).toString();
        if (o.value(QStringLiteral("type")).toString() != QLatin1String("module") || path.isEmpty())
            continue;
        modules.append(o.value(QStringLiteral("name")).toString());
        const QByteArray owner = run(QStringLiteral("dpkg"), {QStringLiteral("-S"), path}, &code);
        QVERIFY2(code == 0, qPrintable(path + QStringLiteral(" belongs to no package")));
        // "qml-module-qtquick2:amd64: /usr/lib/..." (several owners are comma-separated)
        QStringList owners;
        for (const QString &o :
             QString::fromUtf8(owner).section(QStringLiteral(": "), 0, 0).split(QLatin1Char(',')))
            owners.append(o.trimmed().section(QLatin1Char(':'), 0, 0));
        bool covered = false;
        for (const QString &o : owners)
            covered = covered || zelko.depends.contains(o);
        QVERIFY2(covered, qPrintable(QStringLiteral("module %1 comes from %2, missing in Depends: %3")
                                         .arg(o.value(QStringLiteral("name")).toString(), owners.join(", "),
                                              zelko.fields.value(QStringLiteral("Depends")))));
    }
    QVERIFY2(modules.contains(QStringLiteral("QtQuick")), scan.constData());
}

void PackageTest::installsQmlFolder_data()
{
    QTest::addColumn<QString>("relative");
    // Every file of the source folder, whatever the screens add to it.
    const QDir source(QStringLiteral(ZELKO_SOURCE_DIR "/qml/Zelko"));
    QDirIterator it(source.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = source.relativeFilePath(it.next());
        if (!relative.endsWith(QLatin1String(".qmlc")) && !relative.endsWith(QLatin1Char('~')))
            QTest::newRow(qPrintable(relative)) << relative;
    }
}

void PackageTest::installsQmlFolder()
{
    QFETCH(QString, relative);
    QFile source(QStringLiteral(ZELKO_SOURCE_DIR "/qml/Zelko/") + relative);
    QFile copy(unpacked(client + "/qml/Zelko/" + relative));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(copy.fileName()));
    QCOMPARE(copy.readAll(), source.readAll());
}

void PackageTest::installsFiles_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("path");
    QTest::newRow("module qmldir") << "plugin/qmldir" << module + "/qmldir";
    QTest::newRow("module types") << ZELKO_MODULE_TYPES_SOURCE << module + "/plugins.qmltypes";
}

void PackageTest::installsFiles()
{
    QFETCH(QString, source);
    QFETCH(QString, path);
    QFile original(QStringLiteral(ZELKO_SOURCE_DIR "/") + source);
    QFile copy(unpacked(path));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(copy.fileName()));
    QCOMPARE(copy.readAll(), original.readAll());
}

void PackageTest::installsPrograms()
{
    QStringList programs{client + "/bin/zelko", "usr/bin/zelko-frame", module + "/libzelkoplugin.so"};
    if (hasService)
        programs << QStringLiteral("usr/bin/zelko-service");
    for (const QString &path : programs) {
        const QFileInfo program(unpacked(path));
        // Libraries are not executable files (Debian's rule for shared objects).
        QVERIFY2(program.isFile() && program.isExecutable() == !path.endsWith(QLatin1String(".so")),
                 qPrintable(path));
        // Stripped: a debug build must not ship its symbols to handsets.
        const QByteArray sections =
            run(QStringLiteral("readelf"), {QStringLiteral("-S"), program.filePath()});
        if (!sections.isEmpty())
            QVERIFY2(!sections.contains(".debug_info"), qPrintable(path));
    }
}

// The reference service is packaged exactly when the build made it (ZELKO_BUILD_SERVICE).
void PackageTest::serviceAsConfigured()
{
    for (const QString &file : {QStringLiteral("usr/bin/zelko-service"), unit})
        QVERIFY2(QFile::exists(unpacked(file)) == hasService, qPrintable(file));
    // No key to share: each installation's service makes its own.
    QDirIterator files(m_root.path(), QDirIterator::Subdirectories);
    while (files.hasNext())
        QVERIFY2(!files.next().endsWith(QLatin1String(".key")), qPrintable(files.filePath()));
    if (!hasService)
        return;
    // The unit starts the packaged program, hardened: systemd's own measure of its
    // exposure at most 2.0 (the threshold counts tenths).
    QFile unitFile(unpacked(unit));
    QVERIFY(unitFile.open(QIODevice::ReadOnly));
    QVERIFY(unitFile.readAll().contains("\nExecStart=/usr/bin/zelko-service "));
    int code = -1;
    const QByteArray analysis = run(QStringLiteral("systemd-analyze"),
                                    {QStringLiteral("security"), QStringLiteral("--offline=true"),
                                     QStringLiteral("--threshold=20"), unpacked(unit)},
                                    &code);
    QVERIFY2(code == 0, analysis.right(300).constData());
    // --help names the certificate the service makes for itself, which QML programs pin.
    const QByteArray help =
        run(unpacked(QStringLiteral("usr/bin/zelko-service")), {QStringLiteral("--help")});
    QVERIFY2(help.simplified().replace(' ', "").contains("zelko-service/zelko-service.crt,madewithitskey"),
             help.constData());
}

// Where launchers and software centres look (XDG_DATA_DIRS).
static const QStringList launcherDirs{QStringLiteral("usr/share/applications/"),
                                      QStringLiteral("usr/share/metainfo/"),
                                      QStringLiteral("usr/share/icons/hicolor/scalable/apps/"),
                                      QStringLiteral("usr/share/icons/hicolor/128x128/apps/")};
static const QString desktopEntry = QStringLiteral("usr/share/applications/org.example.zelko.desktop");

void PackageTest::launcherFiles_data()
{
    QTest::addColumn<QString>("path");
    // Run on the file, it must end with 0 and say nothing worse than a note.
    QTest::addColumn<QStringList>("validator");
    QTest::newRow("desktop entry") << desktopEntry << QStringList{"desktop-file-validate"};
    QTest::newRow("metainfo") << "usr/share/metainfo/org.example.zelko.metainfo.xml"
                              << QStringList{"appstreamcli", "validate", "--pedantic", "--no-net"};
    // Checked here: an SVG document that says its size.
    QTest::newRow("scalable icon") << "usr/share/icons/hicolor/scalable/apps/org.example.zelko.svg"
                                   << QStringList();
    // Checked here: 128 by 128.
    QTest::newRow("128 px icon") << "usr/share/icons/hicolor/128x128/apps/org.example.zelko.png"
                                 << QStringList();
    // Checked here: a translation that loads.
    QTest::newRow("German translation") << client + "/translations/zelko_de.qm" << QStringList();
}

void PackageTest::launcherFiles()
{
    QFETCH(QString, path);
    QFETCH(QStringList, validator);
    const QString file = m_root.filePath(path);
    QVERIFY2(QFileInfo(file).isFile(), qPrintable(path));
    if (path.endsWith(QLatin1String(".png"))) {
        QCOMPARE(QImage(file).size(), QSize(128, 128));
    } else if (path.endsWith(QLatin1String(".svg"))) {
        QFile svg(file);
        QVERIFY(svg.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&svg);
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name().toString(), QStringLiteral("svg"));
        QVERIFY(xml.attributes().hasAttribute(QStringLiteral("viewBox")));
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    } else if (path.endsWith(QLatin1String(".qm"))) {
        QTranslator translator;
        QVERIFY(translator.load(file) && !translator.isEmpty());
    } else {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(validator.first(), validator.mid(1) << file);
        QVERIFY2(p.waitForFinished(60000), qPrintable(validator.first()));
        const QString said = QString::fromUtf8(p.readAll());
        static const QRegularExpression worse(QStringLiteral("^(E|W): |error|warning"),
                                              QRegularExpression::MultilineOption);
        QVERIFY2(p.exitCode() == 0 && !worse.match(said).hasMatch(), qPrintable(said));
    }
}

// The launcher starts the packaged client and shows the packaged icon.
void PackageTest::desktopEntryStartsClient()
{
    QFile file(m_root.filePath(desktopEntry));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(file.readAll());
    auto key = [&entry](const char *name) {
        return QRegularExpression(QStringLiteral("^%1=(.*)$").arg(QLatin1String(name)),
                                  QRegularExpression::MultilineOption)
            .match(entry)
            .captured(1);
    };
    const QString exec = key("Exec");
    QCOMPARE(exec, QStringLiteral("/usr/bin/zelko"));
    QVERIFY(QFileInfo(m_root.filePath(exec.mid(1))).isExecutable());
    const QString icon = key("Icon");
    for (const QString &dir : launcherDirs.mid(2))
        QVERIFY2(QFile::exists(m_root.filePath(dir + icon + (dir.contains("scalable") ? ".svg" : ".png"))),
                 qPrintable(dir + icon));
}

// Where the FHS puts it: nothing in /opt or /usr/local, the client's own folder private.
void PackageTest::everythingWhereTheFhsSays()
{
    static const QRegularExpression fhs(QStringLiteral("^(usr/(bin|share|lib)/|lib/systemd/system/)"));
    for (const Package &package : qAsConst(m_packages))
        for (const QString &path : package.files)
            QVERIFY2(fhs.match(path).hasMatch(), qPrintable(path));
}

void PackageTest::installedClientRuns()
{
    // The packaged first page is loaded by a main.qml that then quits, so the run ends by
    // itself and shows both that the client's qml/Zelko/main.qml was found and that the page loads.
    const QString page = unpacked(client + "/qml/Zelko/Packaged.qml");
    QVERIFY(QFile::rename(unpacked(client + "/qml/Zelko/main.qml"), page));
    QFile main(unpacked(client + "/qml/Zelko/main.qml"));
    QVERIFY(main.open(QIODevice::WriteOnly));
    main.write("import QtQuick 2.15\n"
               "Item {\n"
               "    width: 480; height: 800\n"
               "    Loader { id: page; anchors.fill: parent; source: \"Packaged.qml\" }\n"
               "    Timer {\n"
               "        interval: 0; running: true\n"
               "        onTriggered: {\n"
               "            console.log('main ' + Qt.resolvedUrl('main.qml') + ' page ' + page.status)\n"
               "            Qt.quit()\n"
               "        }\n"
               "    }\n"
               "}\n");
    main.close();

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("QT_QUICK_BACKEND"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    QProcess zelko;
    zelko.setProcessEnvironment(env);
    // An unrelated working directory: only the install-relative lookup can find main.qml.
    zelko.setWorkingDirectory(home.path());
    // Through its link on the PATH, as a launcher starts it.
    zelko.start(unpacked(QStringLiteral("usr/bin/zelko")), QStringList());
    QVERIFY2(zelko.waitForFinished(60000), "the installed zelko did not quit");
    const QString log = QString::fromUtf8(zelko.readAllStandardError());
    QCOMPARE(zelko.exitStatus(), QProcess::NormalExit);
    QVERIFY2(zelko.exitCode() == 0, qPrintable(log));
    const QString mainUrl = QUrl::fromLocalFile(QFileInfo(main.fileName()).absoluteFilePath()).toString();
    // Loader.Ready is 1.
    QVERIFY2(log.contains(QStringLiteral("main %1 page 1").arg(mainUrl)), qPrintable(log));
    // Warnings from the screens name their file and line.
    QVERIFY2(!log.contains(QRegularExpression(QStringLiteral("\\.(qml|js):\\d+"))), qPrintable(log));
}

QTEST_GUILESS_MAIN(PackageTest)
#include "packagetest.moc"
