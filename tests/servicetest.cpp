#include "querysigning.h"
#include "referenceservice.h"
#include "searchservice.h"
#include "zelkoencrypt.h"
#include "zelkoframereport.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// The real zelko-service binary over loopback, its frames read back with the
// client's own decoder.
class ServiceTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void signingMatchesClient_data();
    void signingMatchesClient();
    void search_data();
    void search();
    void details_data();
    void details();
    void refusals_data();
    void refusals();
    void feedback_data();
    void feedback();
    void installedPackageDatabase();
    void instancesShareOneIndex_data();
    void instancesShareOneIndex();
    void stopsWhenItsStarterDies_data();
    void stopsWhenItsStarterDies();

private:
    ReferenceService m_service;
    // Two services on one index file, started by the first row that needs them.
    QTemporaryDir m_indexDir;
    ReferenceService m_first, m_second;
    QNetworkAccessManager m_network;
};

namespace {

struct Reply
{
    int status = 0;
    QByteArray body;
};

struct Frame
{
    qint64 head = -1, type = -1, error = -1, compress = -1, originalLen = -1;
    QList<QPair<QString, QByteArray>> resources;
    QString json;
    QStringList faults; // layout rules the bytes break
};

// Read with the client's own decoder. Its size fields also tell the layout
// rules the client tolerates being broken and the service must still keep.
Frame decode(const QByteArray &bytes)
{
    const ZelkoFrameReport r = ZelkoFrameReport::decode(bytes);
    Frame f;
    f.head = r.head;
    f.type = quint32(r.serviceType);
    f.error = r.errorCode;
    f.compress = r.compressFlag;
    f.originalLen = r.originalLen;
    for (const ZelkoFrameReport::Resource &entry : r.resources)
        f.resources.append({entry.id, entry.data.toByteArray()});
    f.json = r.json;
    if (!r.ok())
        f.faults << r.failureText();
    if (r.compressFlag == 2 && r.packedBytes != r.compressedLen)
        f.faults << "compressed data cut short";
    if (r.contentBytes != r.originalLen)
        f.faults << "content length differs from originalLen";
    if (r.frameBytesRead != bytes.size())
        f.faults << "bytes after the content";
    if (r.resourceFlag != 0 && (r.resources.size() != r.declaredResources || r.resources.isEmpty()))
        f.faults << "resource count differs from the entries";
    if (r.jsonBytes != r.jsonLen || r.contentBytesRead != r.contentBytes)
        f.faults << "JSON length does not fill the content";
    return f;
}

QString clientSign(const QString &text)
{
    return ZelkoEncrypt(nullptr).zelkoLib_getEncryptString(text);
}

// Signed the way the QML client signs, with the client's own implementation.
QByteArray searchQuery(const QString &q, int page, int pageSize)
{
    return QuerySigning::searchQuery(q, page, pageSize, clientSign);
}

QByteArray detailsQuery(const QString &name)
{
    return QuerySigning::detailsQuery(name, clientSign);
}

// What Qt sends for the client, which sets no headers of its own.
QNetworkRequest clientRequest(const QString &url)
{
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    return request;
}

// Posted like the client posts, TLS certificate not verified.
Reply post(QNetworkAccessManager &network, const QString &url, const QByteArray &body)
{
    QNetworkReply *reply = network.post(clientRequest(url), body);
    QObject::connect(reply, &QNetworkReply::sslErrors, reply,
                     [reply](const QList<QSslError> &) { reply->ignoreSslErrors(); });
    QSignalSpy done(reply, &QNetworkReply::finished);
    Reply out;
    if (reply->isFinished() || done.wait(20000)) {
        out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        out.body = reply->readAll();
    }
    reply->deleteLater();
    return out;
}

} // namespace

void ServiceTest::initTestCase()
{
    QVERIFY2(m_service.start(0, 0, QStringLiteral(ZELKO_TEST_DATA "/dpkg-status")),
             qPrintable(m_service.log()));
}

void ServiceTest::signingMatchesClient_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("search") << QStringLiteral("1|qt|0|10");
    QTest::newRow("non-ASCII") << QStringLiteral("1|café ☕ 𝄞|3|50");
    QTest::newRow("long") << QString(5000, QLatin1Char('x'));
}

void ServiceTest::signingMatchesClient()
{
    QFETCH(QString, text);
    QCOMPARE(QuerySigning::sign(text), clientSign(text));
}

void ServiceTest::search_data()
{
    QTest::addColumn<QString>("q");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("compress"); // -1: either

    const QStringList zlib{"zlib1g", "zlib1g-dev", "libzlibwrap1", "minizip", "pigz"};
    const QString longest = QString("long-name-").repeated(25) + "x";
    // Name equal, name prefix, name part, summary, description; removed packages never.
    QTest::newRow("ranked") << "zlib" << 0 << 10 << zlib << 5 << 2;
    QTest::newRow("case and spaces") << "  ZLIB1G " << 0 << 10 << QStringList{"zlib1g", "zlib1g-dev"} << 2
                                     << -1;
    QTest::newRow("a repeated word counts once")
        << QString("zlib ").repeated(51) << 0 << 10 << zlib << 5 << 2;
    QTest::newRow("words past the eighth left out")
        << "zlib1g z l i b 1 g zlib xyzzy" << 0 << 10 << QStringList{"zlib1g", "zlib1g-dev"} << 2 << -1;
    QTest::newRow("every word") << "compression tools" << 0 << 10 << QStringList{"minizip"} << 1 << -1;
    QTest::newRow("small answer stays plain") << "pigz" << 0 << 1 << QStringList{"pigz"} << 1 << 0;
    QTest::newRow("multi-arch names")
        << "libc6" << 0 << 10 << QStringList{"libc6:amd64", "libc6:i386"} << 2 << -1;
    QTest::newRow("UTF-8 summary") << "café ☕" << 0 << 10 << QStringList{"cafe-tools"} << 1 << -1;
    QTest::newRow("no match") << "no-such-thing" << 0 << 10 << QStringList() << 0 << 0;
    QTest::newRow("escapes in the query") << "\"\\\t" << 0 << 10 << QStringList() << 0 << 0;
    QTest::newRow("empty lists all") << "" << 0 << 50
                                     << QStringList{"adduser",      "cafe-tools", "libc6:amd64", "libc6:i386",
                                                    "libzlibwrap1", longest,      "minizip",     "pigz",
                                                    "zlib1g",       "zlib1g-dev", "пакет"}
                                     << 11 << 2;
    QTest::newRow("first page") << "zlib" << 0 << 2 << QStringList(zlib.mid(0, 2)) << 5 << -1;
    QTest::newRow("last page") << "zlib" << 2 << 2 << QStringList(zlib.mid(4)) << 5 << -1;
    QTest::newRow("past the end") << "zlib" << 3 << 2 << QStringList() << 5 << -1;
}

void ServiceTest::search()
{
    QFETCH(QString, q);
    QFETCH(int, page);
    QFETCH(int, pageSize);
    QFETCH(QStringList, names);
    QFETCH(int, total);
    QFETCH(int, compress);

    const Reply reply = post(m_network, m_service.searchUrl(), searchQuery(q, page, pageSize));
    QCOMPARE(reply.status, 200);
    const Frame f = decode(reply.body);
    QVERIFY2(f.faults.isEmpty(), qPrintable(f.faults.join(", ")));
    QCOMPARE(f.head, 0);
    QCOMPARE(f.type, 1);
    QCOMPARE(f.error, 0);
    if (compress >= 0)
        QCOMPARE(f.compress, compress);
    // Compressed exactly when the content is over the threshold.
    QCOMPARE(f.compress == 2, f.originalLen > ServiceProtocol::CompressAbove);

    const QJsonObject answer = QJsonDocument::fromJson(f.json.toUtf8()).object();
    // Written directly, yet the very text Qt would write.
    QCOMPARE(f.json, QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
    QCOMPARE(answer.value("service").toInt(), 1);
    QCOMPARE(answer.value("q").toString(), q);
    QCOMPARE(answer.value("page").toInt(), page);
    QCOMPARE(answer.value("pageSize").toInt(), pageSize);
    QCOMPARE(answer.value("total").toInt(), total);
    QCOMPARE(answer.value("pages").toInt(), (total + pageSize - 1) / pageSize);
    const QJsonArray results = answer.value("results").toArray();
    QStringList got;
    for (const QJsonValue &r : results)
        got << r.toObject().value("name").toString();
    QCOMPARE(got, names);

    // One PNG thumbnail per result, in the order of the results.
    QCOMPARE(f.resources.size(), names.size());
    for (int i = 0; i < results.size(); ++i) {
        const QJsonObject r = results.at(i).toObject();
        QCOMPARE(f.resources.at(i).first, r.value("res").toString());
        QCOMPARE(f.resources.at(i).first.toLatin1(), "pkg/" + names.at(i).toUtf8());
        QVERIFY(!r.value("version").toString().isEmpty());
        QVERIFY(!r.value("summary").toString().isEmpty());
        const QImage image = QImage::fromData(f.resources.at(i).second, "PNG");
        QCOMPARE(image.size(), QSize(48, 48));
    }
}

void ServiceTest::details_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("arch");
    QTest::addColumn<QString>("description");
    // The database wraps paragraphs for 80 columns; the answer joins their lines.
    QTest::newRow("paragraphs")
        << "pigz" << 0 << "amd64"
        << "pigz, which stands for parallel implementation of gzip, is a fully functional "
           "replacement for gzip that exploits multiple processors.\n\n"
           "It is built on the ZLIB compression library.";
    QTest::newRow("indented lines kept") << "adduser" << 0 << "all"
                                         << "This package includes the 'adduser' and 'deluser' commands.\n\n"
                                            " - adduser adds\n - deluser removes";
    QTest::newRow("one of two architectures")
        << "libc6:i386" << 0 << "i386"
        << "Contains the standard libraries that are used by nearly all "
           "programs on the system.";
    QTest::newRow("ambiguous bare name") << "libc6" << 4 << ""
                                         << "";
    const QString longest = QString("long-name-").repeated(25);
    QTest::newRow("longest name") << longest + "x" << 0 << "all"
                                  << "Its id fills the one-byte length.";
    QTest::newRow("name a byte too long") << longest + "é" << 1 << ""
                                          << "";
    QTest::newRow("beyond Latin-1") << "пакет" << 0 << "all"
                                    << "Its id is the name's UTF-8.";
}

void ServiceTest::details()
{
    QFETCH(QString, name);
    QFETCH(int, error);
    QFETCH(QString, arch);
    QFETCH(QString, description);

    const Reply reply = post(m_network, m_service.searchUrl(), detailsQuery(name));
    QCOMPARE(reply.status, 200);
    const Frame f = decode(reply.body);
    QCOMPARE(f.type, 2);
    QCOMPARE(f.error, error);
    if (error != 0) {
        QCOMPARE(reply.body.size(), 14);
        return;
    }
    QVERIFY2(f.faults.isEmpty(), qPrintable(f.faults.join(", ")));
    const QJsonObject answer = QJsonDocument::fromJson(f.json.toUtf8()).object();
    QCOMPARE(answer.value("name").toString(), name);
    QCOMPARE(answer.value("arch").toString(), arch);
    QCOMPARE(answer.value("description").toString(), description);
    QCOMPARE(f.resources.size(), 1);
    QCOMPARE(f.resources.at(0).first, answer.value("res").toString());
    QCOMPARE(f.resources.at(0).first.toLatin1(), "pkg/" + name.toUtf8());
    QVERIFY(!QImage::fromData(f.resources.at(0).second, "PNG").isNull());
}

void ServiceTest::refusals_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<qint64>("type");

    const QByteArray good = searchQuery("zlib", 0, 10);
    auto with = [&](const char *field, const QJsonValue &value) {
        QJsonObject o = QJsonDocument::fromJson(good).object();
        o.insert(QLatin1String(field), value);
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    };
    auto without = [&](const char *field) {
        QJsonObject o = QJsonDocument::fromJson(good).object();
        o.remove(QLatin1String(field));
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    };
    auto signedSearch = [](const QJsonValue &q, const QJsonValue &page, const QJsonValue &pageSize) {
        const QString text =
            QStringLiteral("1|%1|%2|%3")
                .arg(q.toString(), page.toVariant().toString(), pageSize.toVariant().toString());
        return QJsonDocument(QJsonObject{{"service", 1},
                                         {"q", q},
                                         {"page", page},
                                         {"pageSize", pageSize},
                                         {"sign", clientSign(text)}})
            .toJson(QJsonDocument::Compact);
    };

    QTest::newRow("empty body") << QByteArray() << 1 << qint64(0);
    QTest::newRow("broken JSON") << QByteArray("{\"service\":1,") << 1 << qint64(0);
    QTest::newRow("JSON array") << QByteArray("[1,2]") << 1 << qint64(0);
    QTest::newRow("invalid UTF-8") << QByteArray(good).replace("zlib", "zl\xff\xfe") << 1 << qint64(0);
    QTest::newRow("service missing") << without("service") << 1 << qint64(0);
    QTest::newRow("service as text") << with("service", "1") << 1 << qint64(0);
    QTest::newRow("q not text") << with("q", 5) << 1 << qint64(1);
    QTest::newRow("page fractional") << with("page", 0.5) << 1 << qint64(1);
    QTest::newRow("pageSize too large") << signedSearch("zlib", 0, 51) << 1 << qint64(1);
    QTest::newRow("q too long") << signedSearch(QString(257, 'x'), 0, 10) << 1 << qint64(1);
    QTest::newRow("sign missing") << without("sign") << 1 << qint64(1);
    QTest::newRow("wrong signature") << with("sign", QString(32, '0')) << 2 << qint64(1);
    QTest::newRow("signature of another page") << with("page", 1) << 2 << qint64(1);
    QTest::newRow("unknown service") << with("service", 7) << 3 << qint64(7);
    QTest::newRow("largest service number") << with("service", 4294967295.0) << 3 << qint64(4294967295LL);
}

void ServiceTest::refusals()
{
    QFETCH(QByteArray, body);
    QFETCH(int, error);
    QFETCH(qint64, type);

    const Reply reply = post(m_network, m_service.searchUrl(), body);
    QCOMPARE(reply.status, 200);
    // Header only: the error byte, no content.
    QCOMPARE(reply.body.size(), 14);
    const Frame f = decode(reply.body);
    QCOMPARE(f.head, 0);
    QCOMPARE(f.type, type);
    QCOMPARE(f.error, error);
    // The client stops at the error byte; the rest of the header (compress flag,
    // originalLen) says "no content".
    QCOMPARE(reply.body.mid(9), QByteArray(5, '\0'));
}

void ServiceTest::feedback_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::newRow("text") << QByteArray("{\"text\":\"Great app, thanks\",\"vid\":\"21001002\"}") << true;
    QTest::newRow("blank text") << QByteArray("{\"text\":\"   \"}") << false;
    QTest::newRow("not JSON") << QByteArray("hello") << false;
    QTest::newRow("text too long")
        << QJsonDocument(QJsonObject{{"text", QString(ServiceProtocol::MaxFeedbackLength + 1, 'a')}}).toJson()
        << false;
}

void ServiceTest::feedback()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);

    const Reply reply = post(m_network, m_service.feedbackUrl(), body);
    QCOMPARE(reply.status, 200);
    QJsonParseError error;
    const QJsonObject answer = QJsonDocument::fromJson(reply.body, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(answer.value("ok").toBool(), ok);
    if (ok)
        QVERIFY(answer.value("id").toInt() > 0);
    else
        QVERIFY(!answer.value("error").toString().isEmpty());
}

void ServiceTest::installedPackageDatabase()
{
    ReferenceService real;
    QVERIFY2(real.start(), qPrintable(real.log()));
    // Gone before the service, so no kept-alive connection delays its exit.
    QNetworkAccessManager network;
    const Reply reply = post(network, real.searchUrl(), searchQuery("dpkg", 0, 10));
    const Frame f = decode(reply.body);
    QCOMPARE(f.error, 0);
    const QJsonArray results = QJsonDocument::fromJson(f.json.toUtf8()).object().value("results").toArray();
    QVERIFY(!results.isEmpty());
    // Every Debian system has dpkg, and an equal name ranks first.
    QCOMPARE(results.at(0).toObject().value("name").toString(), QStringLiteral("dpkg"));
    // A second service, as on another machine, made a key and certificate of its own.
    QFile mine(m_service.certificate()), theirs(real.certificate());
    QVERIFY(mine.open(QIODevice::ReadOnly) && theirs.open(QIODevice::ReadOnly));
    QVERIFY(mine.readAll() != theirs.readAll());
    QCOMPARE(QFileInfo(QFileInfo(real.certificate()).path() + "/zelko-service.key").permissions() & 0x7777,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

void ServiceTest::instancesShareOneIndex_data()
{
    QTest::addColumn<QString>("q");
    QTest::addColumn<int>("page");
    for (const char *q : {"", "lib", "dpkg", "qt", "a", "gnu c library", "zlib compression", "\"", "\"lib*",
                          "NEAR(a b)", "Straße", "xyzzy"})
        QTest::newRow(q) << QString::fromUtf8(q) << 0;
    QTest::newRow("lib, page 3") << "lib" << 3;
    QTest::newRow("e, last pages") << "e" << 20;
}

void ServiceTest::instancesShareOneIndex()
{
    QFETCH(QString, q);
    QFETCH(int, page);
    if (m_first.port() == 0) {
        // A copy, so that packages installed meanwhile change neither instance.
        QVERIFY(m_indexDir.isValid());
        const QString status = m_indexDir.filePath("status"), index = m_indexDir.filePath("index");
        QVERIFY(QFile::copy("/var/lib/dpkg/status", status));
        QProcess build;
        build.setProcessChannelMode(QProcess::MergedChannels);
        build.start(ReferenceService::binary(), {"--status-file", status, "--build-index", index});
        QVERIFY(build.waitForFinished(60000));
        QVERIFY2(build.exitCode() == 0, build.readAll().constData());
        QVERIFY2(m_first.start(0, 0, status, {"--index", index}), qPrintable(m_first.log()));
        QVERIFY2(m_second.start(0, 0, status, {"--index", index}), qPrintable(m_second.log()));
        // Both read the file the builder wrote; neither built one of its own.
        QVERIFY2(m_first.log().contains("(index " + index + ")"), qPrintable(m_first.log()));
        QVERIFY2(m_second.log().contains("(index " + index + ")"), qPrintable(m_second.log()));
    }
    QNetworkAccessManager network;
    const Reply a = post(network, m_first.searchUrl(), searchQuery(q, page, 50));
    const Reply b = post(network, m_second.searchUrl(), searchQuery(q, page, 50));
    QCOMPARE(a.status, 200);
    QCOMPARE(decode(a.body).error, 0);
    QVERIFY(a.body == b.body);
}

// Gone, or a zombie nobody reaps: either way it holds no port and runs no code.
static bool processEnded(const QByteArray &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

void ServiceTest::stopsWhenItsStarterDies_data()
{
    QTest::addColumn<bool>("waitUntilListening");
    // Done in the service's state folder $S, a copy of a pair it made, before it starts; $D
    // holds the test data, $A more arguments. With it, the service ends at once by itself.
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("said"); // on its standard output or error
    // Killed at once as well: a stop that comes before the servers run must still end them.
    QTest::newRow("while serving") << true << QString() << "made a new key and certificate";
    QTest::newRow("while starting") << false << QString() << QString();
    // Refused as sshd refuses a host key, never made again, before any port is bound.
    QTest::newRow("key removed") << false << "rm $S/*.key"
                                 << "zelko-service.key: missing";
    QTest::newRow("certificate removed") << false << "rm $S/*.crt"
                                         << "zelko-service.crt: missing";
    QTest::newRow("key others may read") << false << "chmod 644 $S/*.key"
                                         << "zelko-service.key: group or others";
    QTest::newRow("folder others may write") << false << "chmod 777 $S"
                                             << "zelko-service: group or others";
    QTest::newRow("key a FIFO") << false << "rm $S/*.key; mkfifo -m 600 $S/zelko-service.key"
                                << "zelko-service.key: not a regular file";
    QTest::newRow("key a link") << false << "ln -sf zelko-service.crt $S/zelko-service.key"
                                << "zelko-service.key: a link";
    QTest::newRow("RSA key of another pair") << false << "cat $D/server.key >$S/zelko-service.key"
                                             << "zelko-service.key: not the key of the certificate";
    QTest::newRow("given a key of another pair")
        << false << "A=\"--cert $D/server.crt --key $S/zelko-service.key\""
        << "zelko-service.key: not the key";
    QTest::newRow("given a FIFO") << false << "mkfifo $S/f; A=\"--cert $S/f --key $D/server.key\""
                                  << "/f: not a regular file";
}

void ServiceTest::stopsWhenItsStarterDies()
{
    QFETCH(bool, waitUntilListening);
    QFETCH(QString, damage);
    QFETCH(QString, said);

    // A starter that is killed outright, as a crashing test or script would be.
    QProcess starter;
    starter.setProcessChannelMode(QProcess::MergedChannels);
    QTemporaryDir state;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", state.path());
    env.remove("STATE_DIRECTORY");
    starter.setProcessEnvironment(env);
    // Held here: a service that bound its port before refusing its key would say so instead.
    QTcpServer held;
    QVERIFY(held.listen(QHostAddress::LocalHost));
    starter.start(QStringLiteral("/bin/sh"),
                  {"-c",
                   "S=$XDG_STATE_HOME/zelko-service D=${1%/*} A=; [ -z \"$3\" ] ||"
                   " { mkdir -m 700 $S && cp $2/*.key $2/*.crt $S && eval \"$3\"; } || exit;"
                   " \"$0\" --port $4 --https-port 0 --exit-with-parent --status-file \"$1\" $A &"
                   " echo \"pid $!\"; wait $!; echo \"exit $?\"",
                   ReferenceService::binary(), QStringLiteral(ZELKO_TEST_DATA "/dpkg-status"),
                   QFileInfo(m_service.certificate()).path(), damage,
                   damage.isEmpty() ? "0" : QString::number(held.serverPort())});
    QByteArray out;
    const QByteArray wanted = !damage.isEmpty() ? "exit " : waitUntilListening ? "listening on" : "pid ";
    QVERIFY(QTest::qWaitFor(
        [&] {
            starter.waitForReadyRead(100);
            out += starter.readAll();
            return out.contains(wanted) || starter.state() == QProcess::NotRunning;
        },
        30000));
    QVERIFY2(out.contains(said.toUtf8()), out.constData());
    if (!damage.isEmpty()) {
        // It may have ended already, with its last line read.
        QVERIFY(starter.state() == QProcess::NotRunning || starter.waitForFinished(10000));
        QVERIFY2(out.contains("exit 1") && !out.contains("listening on"), out.constData());
        return;
    }
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("pid (\\d+)")).match(QString::fromUtf8(out));
    QVERIFY2(match.hasMatch(), out.constData());
    const QByteArray pid = match.captured(1).toLatin1();

    starter.kill();
    QVERIFY(starter.waitForFinished(10000));
    QVERIFY2(QTest::qWaitFor([&pid] { return processEnded(pid); }, 30000), pid.constData());
}

QTEST_GUILESS_MAIN(ServiceTest)
#include "servicetest.moc"
