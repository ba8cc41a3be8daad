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

// The Debian package as cpack built it: its name and control fields, its files,
// and the client run from an unpacked copy, as it runs on a handset.
class PackageTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void controlFields_data();
    void controlFields();
    void dependsOnLinkedLibraries_data();
    void dependsOnLinkedLibraries();
    void dependsOnNoOtherQt();
    void dependsOnImportedQmlModules();
    void installsQmlFolder_data();
    void installsQmlFolder();
    void installsPrograms_data();
    void installsPrograms();
    void installsFiles_data();
    void installsFiles();
    void serviceAsConfigured();
    void launcherFiles_data();
    void launcherFiles();
    void desktopEntryStartsClient();
    void everythingUnderPrefix();
    void installedClientRuns();

private:
    QString installed(const QString &relative) const
    {
        return m_root.filePath(QStringLiteral("opt/zelko/") + relative);
    }

    QTemporaryDir m_root;
    QMap<QString, QString> m_fields;
    QStringList m_depends; // package names only, without versions
};

static const QString packageFile = QStringLiteral(ZELKO_PACKAGE_FILE);
// The build's ZELKO_BUILD_SERVICE: whether the package carries the reference service.
static const bool hasService = ZELKO_PACKAGE_HAS_SERVICE;

static QByteArray run(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    const ProcessRun run = ProcessRun::of(program, args);
    if (exitCode)
        *exitCode = run.exitCode;
    return run.out;
}

void PackageTest::initTestCase()
{
    QVERIFY2(QFile::exists(packageFile), qPrintable(packageFile + QStringLiteral(" was not built")));
    QVERIFY(m_root.isValid());
    // Unpacked without dpkg's database: no root needed and the system stays untouched.
    int code = 0;
    run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), packageFile, m_root.path()}, &code);
    QCOMPARE(code, 0);

    for (const char *field : {"Package", "Version", "Architecture", "Depends"}) {
        const QByteArray value = run(QStringLiteral("dpkg-deb"),
                                     {QStringLiteral("-f"), packageFile, QString::fromLatin1(field)}, &code);
        QCOMPARE(code, 0);
        m_fields.insert(QString::fromLatin1(field), QString::fromUtf8(value).trimmed());
    }
    // "a (>= 1), b | c" -> a, b, c
    for (const QString &item :
         m_fields.value(QStringLiteral("Depends")).split(QRegularExpression(QStringLiteral("[,|]")))) {
        const QString name = item.trimmed().section(QLatin1Char(' '), 0, 0).section(QLatin1Char(':'), 0, 0);
        if (!name.isEmpty())
            m_depends.append(name);
    }
}

void PackageTest::controlFields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::newRow("name") << "Package"
                          << "zelko";
    QTest::newRow("version") << "Version" << ZELKO_VERSION;
    QTest::newRow("architecture") << "Architecture" << ZELKO_DEB_ARCH;
    QTest::newRow("file name") << "file"
                               << QStringLiteral("zelko_%1_%2.deb").arg(ZELKO_VERSION, ZELKO_DEB_ARCH);
}

void PackageTest::controlFields()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    if (field == QLatin1String("file"))
        QCOMPARE(QFileInfo(packageFile).fileName(), value);
    else
        QCOMPARE(m_fields.value(field), value);
}

void PackageTest::dependsOnLinkedLibraries_data()
{
    QTest::addColumn<QString>("package");
    // What zelko links, as dpkg-shlibdeps names it on Debian 12, for the Qt of the build.
    for (const char *name : {"libc6", "libstdc++6", "zlib1g"})
        QTest::newRow(name) << QString::fromLatin1(name);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    for (const char *name :
         {"libqt6core6", "libqt6gui6", "libqt6network6", "libqt6qml6", "libqt6quick6", "libqt6dbus6"})
#else
    for (const char *name :
         {"libqt5core5a", "libqt5gui5", "libqt5network5", "libqt5qml5", "libqt5quick5", "libqt5dbus5"})
#endif
        QTest::newRow(name) << QString::fromLatin1(name);
    // zelko-service's search index, and what deflates its answers.
    if (ZELKO_PACKAGE_HAS_SERVICE) {
        QTest::newRow("libsqlite3-0") << QStringLiteral("libsqlite3-0");
        QTest::newRow("libdeflate0") << QStringLiteral("libdeflate0");
    }
}

void PackageTest::dependsOnLinkedLibraries()
{
    QFETCH(QString, package);
    QVERIFY2(m_depends.contains(package), qPrintable(m_fields.value(QStringLiteral("Depends"))));
}

// Nothing of the other Qt: neither its libraries nor its QML modules, which the
// program could not load.
void PackageTest::dependsOnNoOtherQt()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    static const QRegularExpression other(QStringLiteral("^(libqt5|qml-module-|qt5-)"));
#else
    static const QRegularExpression other(QStringLiteral("^(libqt6|qml6-module-|qt6-)"));
#endif
    QVERIFY(!m_depends.isEmpty());
    for (const QString &package : qAsConst(m_depends))
        QVERIFY2(!other.match(package).hasMatch(), qPrintable(m_fields.value(QStringLiteral("Depends"))));
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
    const QByteArray scan = run(scanner,
                                {QStringLiteral("-rootPath"), installed(QStringLiteral("qml/Zelko")),
                                 QStringLiteral("-importPath"), qmlDir},
                                &code);
    QCOMPARE(code, 0);
    const QJsonArray imports = QJsonDocument::fromJson(scan).array();
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
            covered = covered || m_depends.contains(o);
        QVERIFY2(covered, qPrintable(QStringLiteral("module %1 comes from %2, missing in Depends: %3")
                                         .arg(o.value(QStringLiteral("name")).toString(), owners.join(", "),
                                              m_fields.value(QStringLiteral("Depends")))));
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
    QFile copy(installed(QStringLiteral("qml/Zelko/") + relative));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(copy.fileName()));
    QCOMPARE(copy.readAll(), source.readAll());
}

void PackageTest::installsPrograms_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("zelko") << "bin/zelko";
    QTest::newRow("zelko-frame") << "bin/zelko-frame";
    if (hasService)
        QTest::newRow("zelko-service") << "bin/zelko-service";
    QTest::newRow("the module's plugin") << "lib/qml/Zelko/libzelkoplugin.so";
}

void PackageTest::installsFiles_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("relative");
    QTest::newRow("module qmldir") << "plugin/qmldir"
                                   << "lib/qml/Zelko/qmldir";
    QTest::newRow("module types") << ZELKO_MODULE_TYPES_SOURCE << "lib/qml/Zelko/plugins.qmltypes";
}

void PackageTest::installsFiles()
{
    QFETCH(QString, source);
    QFETCH(QString, relative);
    QFile original(QStringLiteral(ZELKO_SOURCE_DIR "/") + source);
    QFile copy(installed(relative));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(copy.fileName()));
    QCOMPARE(copy.readAll(), original.readAll());
}

void PackageTest::installsPrograms()
{
    QFETCH(QString, relative);
    const QFileInfo program(installed(relative));
    // Libraries are not executable files (Debian's rule for shared objects).
    QVERIFY2(program.isFile() && program.isExecutable() == relative.startsWith(QLatin1String("bin/")),
             qPrintable(program.filePath()));
    // Stripped: a debug build must not ship its symbols to handsets.
    const QByteArray sections = run(QStringLiteral("readelf"), {QStringLiteral("-S"), program.filePath()});
    if (!sections.isEmpty())
        QVERIFY(!sections.contains(".debug_info"));
}

// The reference service is packaged exactly when the build made it (ZELKO_BUILD_SERVICE).
void PackageTest::serviceAsConfigured()
{
    for (const char *file : {"bin/zelko-service", "share/zelko/systemd/zelko-service.service"})
        QVERIFY2(QFile::exists(installed(QLatin1String(file))) == hasService, file);
    // No key to share: each installation's service makes its own.
    QDirIterator files(installed(QString()), QDirIterator::Subdirectories);
    while (files.hasNext())
        QVERIFY2(!files.next().endsWith(QLatin1String(".key")), qPrintable(files.filePath()));
    if (!hasService)
        return;
    // The unit starts the packaged program, hardened: systemd's own measure of its
    // exposure at most 2.0 (the threshold counts tenths).
    const QString unit = installed(QStringLiteral("share/zelko/systemd/zelko-service.service"));
    QFile unitFile(unit);
    QVERIFY(unitFile.open(QIODevice::ReadOnly));
    QVERIFY(unitFile.readAll().contains("\nExecStart=/opt/zelko/bin/zelko-service "));
    int code = -1;
    const QByteArray analysis = run(QStringLiteral("systemd-analyze"),
                                    {QStringLiteral("security"), QStringLiteral("--offline=true"),
                                     QStringLiteral("--threshold=20"), unit},
                                    &code);
    QVERIFY2(code == 0, analysis.right(300).constData());
    // --help names the certificate the service makes for itself, which QML programs pin.
    const QByteArray help = run(installed(QStringLiteral("bin/zelko-service")), {QStringLiteral("--help")});
    QVERIFY2(help.simplified().replace(' ', "").contains("zelko-service/zelko-service.crt,madewithitskey"),
             help.constData());
}

// Where launchers and software centres look (XDG_DATA_DIRS), outside the prefix.
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
    QTest::newRow("German translation") << "opt/zelko/share/zelko/translations/zelko_de.qm" << QStringList();
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
    QCOMPARE(exec, QStringLiteral("/opt/zelko/bin/zelko"));
    QVERIFY(QFileInfo(m_root.filePath(exec.mid(1))).isExecutable());
    const QString icon = key("Icon");
    for (const QString &dir : launcherDirs.mid(2))
        QVERIFY2(QFile::exists(m_root.filePath(dir + icon + (dir.contains("scalable") ? ".svg" : ".png"))),
                 qPrintable(dir + icon));
}

// Everything under the prefix but the launcher's files, which must be where launchers look.
void PackageTest::everythingUnderPrefix()
{
    int code = 0;
    const QByteArray listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), packageFile}, &code);
    QCOMPARE(code, 0);
    for (const QByteArray &line : listing.split('\n')) {
        if (line.isEmpty())
            continue;
        const QString path = QString::fromUtf8(line.mid(line.lastIndexOf(' ') + 1)).mid(2);
        bool launcher = false;
        for (const QString &dir : launcherDirs)
            launcher = launcher || dir.startsWith(path) || path.startsWith(dir);
        QVERIFY2(path.isEmpty() || path == "opt/" || path.startsWith("opt/zelko/") || launcher,
                 line.constData());
    }
}

void PackageTest::installedClientRuns()
{
    // The packaged first page is loaded by a main.qml that then quits, so the run ends by
    // itself and shows both that <prefix>/qml/Zelko/main.qml was found and that the page loads.
    const QString page = installed(QStringLiteral("qml/Zelko/Packaged.qml"));
    QVERIFY(QFile::rename(installed(QStringLiteral("qml/Zelko/main.qml")), page));
    QFile main(installed(QStringLiteral("qml/Zelko/main.qml")));
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
    zelko.start(installed(QStringLiteral("bin/zelko")), QStringList());
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
