// zelko-frame: shows what the client makes of a service response frame.
// The frame goes through ZelkoFrameReport::decode, the client's own
// decoding pass, so what is printed here is exactly what the client would see.

#include "querysigning.h"
#include "zelkoencrypt.h"
#include "zelkoframereport.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSet>
#include <QTextStream>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One exit code per reason text of the decoder, so that scripts need not parse output.
enum ExitCode {
    Decoded = 0,
    UsageOrIo = 1,
    TooShort = 2,
    HeadInvalid = 3,
    ServiceError = 4,
    CompressFlagInvalid = 5,
    ContentDataError = 6,
    Aborted = 7
};

int exitCodeFor(ZelkoFrameReport::Failure failure)
{
    switch (failure) {
    case ZelkoFrameReport::NoFailure:
        return Decoded;
    case ZelkoFrameReport::BufferTooShort:
        return TooShort;
    case ZelkoFrameReport::HeadInvalid:
        return HeadInvalid;
    case ZelkoFrameReport::ServiceError:
        return ServiceError;
    case ZelkoFrameReport::CompressFlagInvalid:
        return CompressFlagInvalid;
    case ZelkoFrameReport::ContentDataError:
        return ContentDataError;
    case ZelkoFrameReport::DecodingAborted:
        break;
    }
    return Aborted;
}

QString exitCodeHelp()
{
    QString help = QStringLiteral("Exit codes:\n"
                                  "  0  the frame decoded\n"
                                  "  1  usage error, unreadable input or a resource file not written\n");
    for (int f = ZelkoFrameReport::BufferTooShort; f <= ZelkoFrameReport::DecodingAborted; ++f) {
        const auto failure = ZelkoFrameReport::Failure(f);
        QString text = ZelkoFrameReport::failureText(failure, 0);
        if (failure == ZelkoFrameReport::ServiceError)
            text = text.chopped(1) + QLatin1Char('N'); // the service's error byte
        help += QStringLiteral("  %1  %2\n").arg(exitCodeFor(failure)).arg(text);
    }
    help.chop(1);
    return help;
}

struct ImageInfo
{
    QByteArray format; // empty: the bytes do not decode as an image
    QSize size;
};

// Standard error goes quiet while images are probed: libpng reports a damaged image
// there by itself, and the report already says the bytes do not decode.
class QuietStderr
{
public:
    QuietStderr()
    {
        std::fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDERR_FILENO);
            close(null);
        }
    }
    ~QuietStderr()
    {
        std::fflush(stderr);
        if (m_saved >= 0) {
            dup2(m_saved, STDERR_FILENO);
            close(m_saved);
        }
    }
    QuietStderr(const QuietStderr &) = delete;
    QuietStderr &operator=(const QuietStderr &) = delete;

private:
    int m_saved = -1;
};

// Decoded in full, as the "res" provider would, so a damaged image is not reported as one.
ImageInfo probeImage(const QByteArray &data)
{
    const QuietStderr quiet;
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    const QImage image = reader.read();
    if (format.isEmpty() || image.isNull())
        return {};
    return {format, image.size()};
}

// Identifiers come from the wire: only [A-Za-z0-9._-] survive and no name starts
// with a dot, so an identifier can neither leave the directory nor hide a file.
QString safeFileName(const QString &id)
{
    QString name;
    for (const QChar c : id) {
        const ushort u = c.unicode();
        const bool keep = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
                          || u == '.' || u == '_' || u == '-';
        name.append(keep ? c : QLatin1Char('_'));
    }
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1Char('_'));
    return name.left(200);
}

// Identifiers may hold control bytes; the text report must stay one entry a line.
QString quoted(const QString &id)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : id) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

// Re-indents valid JSON text without parsing its values: key order and number
// spellings stay as the service sent them (QJsonDocument would sort the keys and
// round large integers through double).
QString indentJson(const QString &text)
{
    QString out;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    auto newline = [&] { out += QLatin1Char('\n') + QString(depth * 4, QLatin1Char(' ')); };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inString) {
            out += c;
            if (escaped)
                escaped = false;
            else if (c == QLatin1Char('\\'))
                escaped = true;
            else if (c == QLatin1Char('"'))
                inString = false;
            continue;
        }
        switch (c.unicode()) {
        case '"':
            inString = true;
            out += c;
            break;
        case '{':
        case '[': {
            out += c;
            int j = i + 1;
            while (j < text.size() && text.at(j).isSpace())
                ++j;
            const QChar close = c == QLatin1Char('{') ? QLatin1Char('}') : QLatin1Char(']');
            if (j < text.size() && text.at(j) == close) {
                out += close;
                i = j;
            } else {
                ++depth;
                newline();
            }
            break;
        }
        case '}':
        case ']':
            --depth;
            newline();
            out += c;
            break;
        case ',':
            out += c;
            newline();
            break;
        case ':':
            out += QStringLiteral(": ");
            break;
        case ' ':
        case '\t':
        case '\n':
        case '\r':
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool isValidJson(const QString &text)
{
    QJsonParseError error;
    QJsonDocument::fromJson(text.toUtf8(), &error);
    return error.error == QJsonParseError::NoError;
}

// Which fields the pass reached: it stops at the first failed check.
bool headerBodyRead(const ZelkoFrameReport &r)
{
    return r.hasRecord && r.head == 0;
}

// A plain content is taken as far as the frame goes, like a compressed one.
bool plainContentCut(const ZelkoFrameReport &r)
{
    return r.compressFlag == 0 && r.contentBytes >= 0 && r.contentBytes < r.originalLen;
}

// The extension the bytes show, for the three formats services send.
QString extensionFor(const QByteArray &data)
{
    if (data.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral(".png");
    if (data.startsWith("\xff\xd8\xff"))
        return QStringLiteral(".jpg");
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a"))
        return QStringLiteral(".gif");
    return QString();
}

QString compressName(int flag)
{
    switch (flag) {
    case 0:
        return QStringLiteral("plain");
    case 2:
        return QStringLiteral("zlib");
    default:
        return QStringLiteral("invalid");
    }
}

void printText(QTextStream &out, const QByteArray &frame, const ZelkoFrameReport &r,
               const QList<ImageInfo> &images, const QStringList &files)
{
    auto line = [&out](const char *label, const QString &value) {
        out << QString::fromLatin1(label).leftJustified(17) << value << '\n';
    };
    line("frame:", QStringLiteral("%1 bytes").arg(frame.size()));
    if (r.hasRecord)
        line("head:", QString::number(r.head));
    if (headerBodyRead(r)) {
        line("service type:", QString::number(quint32(r.serviceType)));
        line("error code:", QString::number(r.errorCode));
    }
    if (r.compressFlag >= 0)
        line("compress flag:",
             QStringLiteral("%1 (%2)").arg(r.compressFlag).arg(compressName(r.compressFlag)));
    if (r.originalLen >= 0)
        line("original length:", QString::number(r.originalLen));
    if (r.compressedLen >= 0)
        line("compressed len:",
             QStringLiteral("%1 (%2 bytes present)").arg(r.compressedLen).arg(r.packedBytes));
    if (r.contentBytes >= 0)
        line("content:", plainContentCut(r) ? QStringLiteral("%1 bytes (%2 stated; the frame ends sooner)")
                                                  .arg(r.contentBytes)
                                                  .arg(r.originalLen)
                                            : QStringLiteral("%1 bytes").arg(r.contentBytes));
    if (r.resourceFlag >= 0)
        line("resource flag:", QString::number(r.resourceFlag));
    if (r.resourceFlag > 0) {
        line("resources:",
             r.declaredResources >= 0 && r.declaredResources != r.resources.size()
                 ? QStringLiteral("%1 (%2 declared)").arg(r.resources.size()).arg(r.declaredResources)
                 : QString::number(r.resources.size()));
        for (int i = 0; i < r.resources.size(); ++i) {
            const ZelkoFrameReport::Resource &res = r.resources.at(i);
            out << "  " << quoted(res.id) << "  type " << res.type << "  " << res.data.size() << " bytes";
            if (!images.at(i).format.isEmpty())
                out << "  " << images.at(i).format << ' ' << images.at(i).size.width() << 'x'
                    << images.at(i).size.height();
            if (!files.isEmpty())
                out << "  -> " << files.at(i);
            out << '\n';
        }
    }
    if (r.resourceFlag >= 0) {
        if (r.json.isEmpty()) {
            line("json:", QStringLiteral("(empty)"));
        } else if (isValidJson(r.json)) {
            out << "json:\n" << indentJson(r.json) << '\n';
        } else {
            line("json (not valid):", QString());
            out << r.json << '\n';
        }
    }
    line("result:", r.ok() ? QStringLiteral("ok") : r.failureText());
}

QJsonObject toJson(const QByteArray &frame, const ZelkoFrameReport &r, const QList<ImageInfo> &images,
                   const QStringList &files)
{
    auto number = [](bool reached, qint64 value) {
        return reached ? QJsonValue(double(value)) : QJsonValue();
    };
    QJsonObject o;
    o.insert(QStringLiteral("frameBytes"), frame.size());
    o.insert(QStringLiteral("failure"), r.ok() ? QJsonValue() : QJsonValue(r.failureText()));
    o.insert(QStringLiteral("head"), number(r.hasRecord, r.head));
    o.insert(QStringLiteral("serviceType"), number(headerBodyRead(r), quint32(r.serviceType)));
    o.insert(QStringLiteral("errorCode"), number(headerBodyRead(r), r.errorCode));
    o.insert(QStringLiteral("compressFlag"), number(r.compressFlag >= 0, r.compressFlag));
    o.insert(QStringLiteral("compressed"),
             r.compressFlag >= 0 ? QJsonValue(r.compressFlag == 2) : QJsonValue());
    o.insert(QStringLiteral("originalLength"), number(r.originalLen >= 0, r.originalLen));
    o.insert(QStringLiteral("compressedLength"), number(r.compressedLen >= 0, r.compressedLen));
    o.insert(QStringLiteral("compressedBytes"), number(r.packedBytes >= 0, r.packedBytes));
    o.insert(QStringLiteral("contentBytes"), number(r.contentBytes >= 0, r.contentBytes));
    o.insert(QStringLiteral("contentCut"),
             r.contentBytes >= 0 ? QJsonValue(plainContentCut(r)) : QJsonValue());
    o.insert(QStringLiteral("resourceFlag"), number(r.resourceFlag >= 0, r.resourceFlag));
    o.insert(QStringLiteral("declaredResources"), number(r.declaredResources >= 0, r.declaredResources));
    QJsonArray resources;
    for (int i = 0; i < r.resources.size(); ++i) {
        const ZelkoFrameReport::Resource &res = r.resources.at(i);
        QJsonObject entry;
        entry.insert(QStringLiteral("id"), res.id);
        entry.insert(QStringLiteral("type"), res.type);
        entry.insert(QStringLiteral("size"), qint64(res.data.size()));
        if (images.at(i).format.isEmpty()) {
            entry.insert(QStringLiteral("image"), QJsonValue());
        } else {
            entry.insert(QStringLiteral("image"),
                         QJsonObject{{QStringLiteral("format"), QString::fromLatin1(images.at(i).format)},
                                     {QStringLiteral("width"), images.at(i).size.width()},
                                     {QStringLiteral("height"), images.at(i).size.height()}});
        }
        if (!files.isEmpty())
            entry.insert(QStringLiteral("file"), files.at(i));
        resources.append(entry);
    }
    o.insert(QStringLiteral("resources"), resources);
    const bool jsonRead = r.resourceFlag >= 0;
    o.insert(QStringLiteral("json"), jsonRead ? QJsonValue(r.json) : QJsonValue());
    o.insert(QStringLiteral("jsonValid"), jsonRead ? QJsonValue(isValidJson(r.json)) : QJsonValue());
    return o;
}

bool readInput(const QString &path, QByteArray *frame, QString *error)
{
    QFile file;
    bool opened;
    if (path.isEmpty() || path == QLatin1String("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(path);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        *error = file.errorString();
        return false;
    }
    *frame = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool extract(const QString &dirPath, const ZelkoFrameReport &r, QStringList *files, QString *error)
{
    QDir dir(dirPath);
    // One level at most: a mistyped path must not grow a tree of folders.
    const QFileInfo parent(QFileInfo(dir.absolutePath()).absolutePath());
    if (!dir.exists() && (!parent.isDir() || !QDir(parent.filePath()).mkdir(dir.dirName()))) {
        *error = parent.isDir() ? QStringLiteral("cannot create directory %1").arg(dirPath)
                                : QStringLiteral("cannot create directory %1: %2 is not a directory")
                                      .arg(dirPath, parent.filePath());
        return false;
    }
    QSet<QString> used;
    for (const ZelkoFrameReport::Resource &res : r.resources) {
        // Distinct identifiers may sanitise alike, and one identifier may come twice.
        const QByteArray bytes = res.data.toByteArray();
        const QString extension = extensionFor(bytes);
        QString base = safeFileName(res.id);
        if (base.endsWith(extension, Qt::CaseInsensitive))
            base.chop(extension.size());
        QString name = base + extension;
        for (int n = 2; used.contains(name); ++n)
            name = QStringLiteral("%1~%2%3").arg(base).arg(n).arg(extension);
        used.insert(name);
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
            return false;
        }
        files->append(path);
    }
    return true;
}

// Frames carry UTF-8 text; it is printed as such whatever the locale says.
void printInUtf8(QTextStream &out)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    out.setEncoding(QStringConverter::Utf8);
#else
    out.setCodec("UTF-8");
#endif
}

// Queries signed by the client's own rule, so that a shell can talk to the service:
//   zelko-frame --search-query qt | curl -s --data-binary @- http://127.0.0.1:47311/search | zelko-frame
int printQuery(const QCommandLineParser &parser, const QCommandLineOption &sign,
               const QCommandLineOption &search, const QCommandLineOption &details,
               const QCommandLineOption &page, const QCommandLineOption &pageSize)
{
    QTextStream out(stdout);
    printInUtf8(out);
    QTextStream err(stderr);
    ZelkoEncrypt encrypt(nullptr);
    if (int(parser.isSet(sign)) + int(parser.isSet(search)) + int(parser.isSet(details)) != 1) {
        err << "zelko-frame: one of --sign, --search-query and --details-query at a time\n";
        return UsageOrIo;
    }
    if (parser.isSet(sign)) {
        out << encrypt.zelkoLib_getEncryptString(parser.value(sign)) << '\n';
        return Decoded;
    }
    const QuerySigning::Signer clientSign = [&encrypt](const QString &text) {
        return encrypt.zelkoLib_getEncryptString(text);
    };
    if (parser.isSet(details)) {
        out << QuerySigning::detailsQuery(parser.value(details), clientSign) << '\n';
        return Decoded;
    }
    bool pageOk = false, sizeOk = false;
    const int pageNumber = parser.value(page).toInt(&pageOk);
    const int size = parser.value(pageSize).toInt(&sizeOk);
    if (!pageOk || !sizeOk || pageNumber < 0 || size < 1) {
        err << "zelko-frame: --page takes a number from 0, --page-size one from 1\n";
        return UsageOrIo;
    }
    out << QuerySigning::searchQuery(parser.value(search), pageNumber, size, clientSign) << '\n';
    return Decoded;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelko-frame"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELKO_VERSION));
    // The decoder logs two of its reasons; the report states every reason already.
    QLoggingCategory::setFilterRules(QStringLiteral("zelko.*.debug=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Decodes a Zelko service response frame with the client's own decoder and prints\n"
                       "its header, content sizes, resources and JSON text.\n\n%1")
            .arg(exitCodeHelp()));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print the report as one JSON object."));
    const QCommandLineOption extractOption(QStringLiteral("extract"),
                                           QStringLiteral("Write each resource to a file in <dir>."),
                                           QStringLiteral("dir"));
    const QCommandLineOption signOption(
        QStringLiteral("sign"),
        QStringLiteral("Print the client's signature of <text> (getEncryptString) and exit."),
        QStringLiteral("text"));
    const QCommandLineOption searchOption(
        QStringLiteral("search-query"),
        QStringLiteral("Print a signed search query for <words> (see service/README.md) and exit."),
        QStringLiteral("words"));
    const QCommandLineOption detailsOption(
        QStringLiteral("details-query"), QStringLiteral("Print a signed details query for <name> and exit."),
        QStringLiteral("name"));
    const QCommandLineOption pageOption(QStringLiteral("page"),
                                        QStringLiteral("Page of --search-query, from 0 (default 0)."),
                                        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption pageSizeOption(
        QStringLiteral("page-size"), QStringLiteral("Results per page of --search-query (default 10)."),
        QStringLiteral("n"), QStringLiteral("10"));
    parser.addOption(jsonOption);
    parser.addOption(extractOption);
    parser.addOptions({signOption, searchOption, detailsOption, pageOption, pageSizeOption});
    parser.addPositionalArgument(
        QStringLiteral("frame"),
        QStringLiteral("File holding the frame; standard input when absent or \"-\"."),
        QStringLiteral("[frame]"));
    parser.process(app);

    QTextStream err(stderr);
    if (parser.isSet(signOption) || parser.isSet(searchOption) || parser.isSet(detailsOption))
        return printQuery(parser, signOption, searchOption, detailsOption, pageOption, pageSizeOption);
    const QStringList args = parser.positionalArguments();
    if (args.size() > 1) {
        err << "zelko-frame: one frame at a time\n";
        return UsageOrIo;
    }
    const QString input = args.value(0);
    if (input.isEmpty() && isatty(STDIN_FILENO)) {
        err << parser.helpText();
        return UsageOrIo;
    }

    QByteArray frame;
    QString error;
    if (!readInput(input, &frame, &error)) {
        err << "zelko-frame: cannot read " << (input.isEmpty() ? QStringLiteral("standard input") : input)
            << ": " << error << '\n';
        return UsageOrIo;
    }

    const ZelkoFrameReport report = ZelkoFrameReport::decode(frame);

    QList<ImageInfo> images;
    for (const ZelkoFrameReport::Resource &res : report.resources)
        images.append(probeImage(res.data.toByteArray()));

    QStringList files;
    if (parser.isSet(extractOption) && !extract(parser.value(extractOption), report, &files, &error)) {
        err << "zelko-frame: " << error << '\n';
        return UsageOrIo;
    }

    QTextStream out(stdout);
    printInUtf8(out);
    if (parser.isSet(jsonOption))
        out << QJsonDocument(toJson(frame, report, images, files)).toJson(QJsonDocument::Indented);
    else
        printText(out, frame, report, images, files);
    out.flush();

    if (!report.ok())
        err << "zelko-frame: " << report.failureText() << '\n';
    return exitCodeFor(report.failure);
}
