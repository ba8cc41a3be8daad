#include "querysigning.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

const char *const KEY = "5C3A9E17D0B84F26A1E3C7B95D08F4A2E6C1B739";

QByteArray md5Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

// text as a JSON string, quoted, as JSON.stringify writes it.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

namespace QuerySigning {

QString searchText(const QString &q, int page, int pageSize)
{
    // In one pass: a "%1" the user typed is text, not a place for the page.
    return QStringLiteral("1|%1|%2|%3").arg(q, QString::number(page), QString::number(pageSize));
}

QString detailsText(const QString &name)
{
    return QStringLiteral("2|") + name;
}

QString sign(const QString &text)
{
    static const QByteArray keyPart =
        QCryptographicHash::hash(md5Hex(QByteArray(KEY)), QCryptographicHash::Sha1).toHex().toUpper();
    return QString::fromLatin1(md5Hex(keyPart + md5Hex(text.toUtf8())));
}

QByteArray searchQuery(const QString &q, int page, int pageSize, const Signer &signer)
{
    return "{\"service\":1,\"q\":" + jsonString(q) + ",\"page\":" + QByteArray::number(page)
           + ",\"pageSize\":" + QByteArray::number(pageSize)
           + ",\"sign\":" + jsonString(signer(searchText(q, page, pageSize))) + '}';
}

QByteArray detailsQuery(const QString &name, const Signer &signer)
{
    return "{\"service\":2,\"name\":" + jsonString(name)
           + ",\"sign\":" + jsonString(signer(detailsText(name))) + '}';
}

} // namespace QuerySigning
