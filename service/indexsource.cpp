#include "indexsource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

const char *const AptListsDir = "/var/lib/apt/lists";

// The standard output of program, or empty with *error set.
QByteArray output(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    const QString command = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    QByteArray out;
    if (!process.waitForStarted(30000)) {
        *error = QStringLiteral("cannot run %1: %2").arg(program, process.errorString());
        return QByteArray();
    }
    while (process.state() != QProcess::NotRunning) {
        if (!process.waitForReadyRead(120000) && process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
            *error = QStringLiteral("%1 gave nothing for two minutes").arg(command);
            return QByteArray();
        }
        out += process.readAllStandardOutput();
    }
    out += process.readAllStandardOutput();
    // What a program printed before it failed is no list of packages, however much of one
    // it looks.
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString how = process.exitStatus() != QProcess::NormalExit
                                ? QStringLiteral("crashed")
                                : QStringLiteral("failed with exit status %1").arg(process.exitCode());
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed().left(500);
        *error =
            command + QLatin1Char(' ') + how + (said.isEmpty() ? QString() : QStringLiteral(": ") + said);
        return QByteArray();
    }
    return out;
}

// apt merges its lists (several suites, one version each) and undoes their
// compression; asking it beats reading the lz4 files and comparing versions here.
// Only the machine's own architecture (and "all"): with foreign architectures
// added for cross builds, apt would list most packages two or three times over.
QByteArray dumpAvailable(QString *error)
{
    const QByteArray native =
        output(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}, error).trimmed();
    if (native.isEmpty()) {
        if (error->isEmpty())
            *error = QStringLiteral("dpkg names no architecture");
        return QByteArray();
    }
    return output(QStringLiteral("apt-cache"),
                  {QStringLiteral("-o"), QStringLiteral("APT::Architectures=") + QString::fromLatin1(native),
                   QStringLiteral("dumpavail")},
                  error);
}

} // namespace

QString IndexSource::describe() const
{
    switch (kind) {
    case Installed:
        return QStringLiteral("installed packages");
    case Status:
        return QStringLiteral("dpkg status ") + path;
    case PackagesFile:
        return QStringLiteral("package list ") + path;
    case Archive:
        return QStringLiteral("apt package lists");
    }
    return QString();
}

QDateTime IndexSource::lastModified() const
{
    if (kind == Installed)
        return QDateTime::currentDateTimeUtc();
    if (kind != Archive)
        return QFileInfo(path).lastModified();
    QDateTime newest;
    const QFileInfoList lists =
        QDir(QString::fromLatin1(AptListsDir)).entryInfoList({QStringLiteral("*_Packages*")}, QDir::Files);
    for (const QFileInfo &list : lists) {
        if (!newest.isValid() || list.lastModified() > newest)
            newest = list.lastModified();
    }
    return newest;
}

PackageIndex IndexSource::read(QString *error) const
{
    if (kind == Archive) {
        const QByteArray text = dumpAvailable(error);
        return text.isEmpty() ? PackageIndex() : PackageIndex::fromPackagesText(text);
    }
    // dpkg's own interface to its database, which is dpkg's alone to read.
    if (kind == Installed) {
        const QByteArray text = output(QStringLiteral("dpkg-query"), {QStringLiteral("--status")}, error);
        return text.isEmpty() ? PackageIndex() : PackageIndex::fromStatusText(text);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return PackageIndex();
    }
    const QByteArray text = file.readAll();
    return kind == Status ? PackageIndex::fromStatusText(text) : PackageIndex::fromPackagesText(text);
}

PackageIndex loadPackageIndex(const IndexSource &source, const QString &indexFile, QString *note,
                              QString *error)
{
    if (!indexFile.isEmpty()) {
        const QFileInfo file(indexFile);
        const QDateTime sourceTime = source.lastModified();
        // Without its source (an index copied to another machine) the index is all there is.
        if (file.exists() && (!sourceTime.isValid() || file.lastModified() >= sourceTime)) {
            QString builtFrom, why;
            PackageIndex index = PackageIndex::openIndex(indexFile, &builtFrom, &why);
            if (index.isIndexed() && builtFrom == source.describe()) {
                *note = QStringLiteral("index %1").arg(indexFile);
                return index;
            }
            if (!sourceTime.isValid()) {
                *error =
                    why.isEmpty() ? QStringLiteral("%1 was built from %2").arg(indexFile, builtFrom) : why;
                return PackageIndex();
            }
        }
    }
    PackageIndex index = source.read(error);
    if (index.size() == 0) {
        if (error->isEmpty())
            *error = QStringLiteral("no packages found in %1").arg(source.describe());
        return PackageIndex();
    }
    if (indexFile.isEmpty()) {
        if (!index.attachIndex(error))
            return PackageIndex();
        *note = QStringLiteral("index built in memory");
        return index;
    }
    if (!index.writeIndex(indexFile, source.describe(), error))
        return PackageIndex();
    // Served from the file just written, exactly as the next start will be.
    QString builtFrom;
    PackageIndex written = PackageIndex::openIndex(indexFile, &builtFrom, error);
    if (!written.isIndexed())
        return PackageIndex();
    *note = QStringLiteral("index %1, built now").arg(indexFile);
    return written;
}
