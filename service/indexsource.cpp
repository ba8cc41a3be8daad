#include "indexsource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

const char *const AptListsDir = "/var/lib/apt/lists";
const char *const DpkgStatus = "/var/lib/dpkg/status";

// apt merges its lists (several suites, one version each) and undoes their
// compression; asking it beats reading the lz4 files and comparing versions here.
QByteArray dumpAvailable(QString *error)
{
    QProcess apt;
    apt.setProcessChannelMode(QProcess::SeparateChannels);
    apt.start(QStringLiteral("apt-cache"), {QStringLiteral("dumpavail")});
    QByteArray out;
    if (!apt.waitForStarted(30000)) {
        *error = QStringLiteral("cannot run apt-cache: %1").arg(apt.errorString());
        return QByteArray();
    }
    while (apt.state() != QProcess::NotRunning) {
        if (!apt.waitForReadyRead(120000) && apt.state() != QProcess::NotRunning) {
            apt.kill();
            apt.waitForFinished(10000);
            *error = QStringLiteral("apt-cache dumpavail gave nothing for two minutes");
            return QByteArray();
        }
        out += apt.readAllStandardOutput();
    }
    out += apt.readAllStandardOutput();
    if (apt.exitStatus() != QProcess::NormalExit || apt.exitCode() != 0) {
        *error = QStringLiteral("apt-cache dumpavail failed: %1")
                     .arg(QString::fromLocal8Bit(apt.readAllStandardError()).trimmed());
        return QByteArray();
    }
    return out;
}

} // namespace

QString IndexSource::describe() const
{
    switch (kind) {
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
    if (kind != Archive)
        return QFileInfo(path).lastModified();
    // The installed packages count too: apt shows those no list carries.
    QDateTime newest = QFileInfo(QString::fromLatin1(DpkgStatus)).lastModified();
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
