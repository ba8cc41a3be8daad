#include "searchservice.h"

#include "bytecache.h"
#include "framewriter.h"
#include "querysigning.h"
#include "ranking.h"
#include "thumbnail.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

using namespace ServiceProtocol;

namespace {

// Thrown for a query the service refuses; carries the error byte of the answer.
struct Refusal
{
    ErrorCode code;
};

qint64 integerField(const QJsonObject &object, const char *name, qint64 min, qint64 max)
{
    const QJsonValue value = object.value(QLatin1String(name));
    const double d = value.toDouble(std::nan(""));
    if (!value.isDouble() || d != std::floor(d) || d < double(min) || d > double(max))
        throw Refusal{MalformedQuery};
    return qint64(d);
}

QString stringField(const QJsonObject &object, const char *name, int maxLength)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (!value.isString() || value.toString().size() > maxLength)
        throw Refusal{MalformedQuery};
    return value.toString();
}

void checkSignature(const QJsonObject &query, const QString &signingText)
{
    const QString given = stringField(query, "sign", 64);
    if (given.compare(QuerySigning::sign(signingText), Qt::CaseInsensitive) != 0)
        throw Refusal{BadSignature};
}

// JSON text as QJsonDocument::Compact writes it, byte for byte, without building the
// objects first: keys in sorted order, the same escapes. Building and sorting
// QJsonObjects cost more than the search.
void appendJson(QByteArray &out, const char *utf8, int size)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    int copied = 0;
    for (int i = 0; i < size; ++i) {
        const uchar c = uchar(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(utf8 + copied, i - copied);
        copied = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    out.append(utf8 + copied, size - copied);
    out += '"';
}

// What Qt writes for one value alone, its brackets cut off.
QByteArray qtJson(const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

void appendJson(QByteArray &out, std::string_view utf8)
{
    appendJson(out, utf8.data(), int(utf8.size()));
}

void appendJson(QByteArray &out, const QString &text)
{
    // A stray surrogate half (a query may carry one) is escaped Qt's own way.
    if (!QStringView(text).isValidUtf16()) {
        out += qtJson(text);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    appendJson(out, utf8.constData(), utf8.size());
}

void appendJson(QByteArray &out, qint64 number)
{
    // Qt 5 writes numbers past 2^53 through a double; those few go through Qt.
    constexpr qint64 exact = qint64(1) << 53;
    if (number >= -exact && number <= exact)
        out += QByteArray::number(number);
    else
        out += qtJson(QJsonValue(number));
}

// A resource id travels as Latin-1 behind a one-byte length, and the client reads it as
// Latin-1. A Latin-1 name keeps its Latin-1 bytes; any other travels as its UTF-8 bytes, which
// the client reads as the very string "res" then carries, so no script loses a character.
// Empty for an id the length cannot carry: "res" is then empty and the package has no thumbnail.
QByteArray resourceId(const QString &name)
{
    const QString id = QStringLiteral("pkg/") + name;
    const bool latin1 = std::all_of(id.cbegin(), id.cend(), [](QChar c) { return c.unicode() <= 0xff; });
    const QByteArray bytes = latin1 ? id.toLatin1() : id.toUtf8();
    return bytes.size() <= 255 ? bytes : QByteArray();
}

FrameWriter::Resource thumbnail(const QByteArray &id, const QString &name)
{
    FrameWriter::Resource r;
    r.id = id;
    r.data = Thumbnail::cachedPng(name);
    if (r.data.isEmpty())
        throw Refusal{InternalError};
    return r;
}

// The frame writer fails only without memory.
QByteArray packed(const QByteArray &frame)
{
    if (frame.isEmpty())
        throw Refusal{InternalError};
    return frame;
}

} // namespace

SearchService::SearchService(PackageIndex index, size_t answerCacheBytes)
    : m_index(std::move(index))
    , m_answers(std::make_unique<ByteCache>(answerCacheBytes))
    , m_rankings(answerCacheBytes ? std::make_unique<ByteCache>(answerCacheBytes / 4) : nullptr)
{
}

SearchService::~SearchService() = default;

QByteArray SearchService::answer(const QByteArray &body) const
{
    // An answer depends on the body and the read-only index alone, so a query asked
    // again (a popular one, a page shown again) comes from memory. Refusals are cheap
    // and not kept, so junk cannot push real answers out.
    return m_answers->value(body, [this, &body](bool *keep) { return compute(body, keep); });
}

int SearchService::keptAnswers() const
{
    return m_answers->count();
}

// A broad query is ranked once for all its pages: a client that pages through one, or asks
// page after page to get past the kept answers, costs the ranking once, and answers others
// the sooner. What it keeps is the words as ranking takes them, so spellings of one query
// share it.
QVector<int> SearchService::hits(const QString &q, int from, int count, int *total) const
{
    if (!m_rankings)
        return m_index.search(q, from, count, total);
    constexpr int BroadHits = 1024;
    const QByteArray order =
        m_rankings->value(Ranking::words(q).join(QLatin1Char(' ')).toUtf8(), [&](bool *keep) {
            int all = 0;
            const QVector<int> ranked = m_index.search(q, 0, std::numeric_limits<int>::max(), &all);
            *keep = all >= BroadHits;
            return QByteArray(reinterpret_cast<const char *>(ranked.constData()),
                              int(ranked.size() * sizeof(int)));
        });
    const auto *ranked = reinterpret_cast<const int *>(order.constData());
    *total = int(order.size() / sizeof(int));
    QVector<int> page;
    for (int k = from; k < *total && k - from < count; ++k)
        page.append(ranked[k]);
    return page;
}

QByteArray SearchService::compute(const QByteArray &body, bool *keep) const
{
    quint32 type = 0;
    try {
        // Invalid sequences would come back as U+FFFD and no longer match the bytes.
        if (QString::fromUtf8(body).toUtf8() != body)
            throw Refusal{MalformedQuery};
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(body, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            throw Refusal{MalformedQuery};
        const QJsonObject query = document.object();
        type = quint32(integerField(query, "service", 0, 0xffffffffLL));
        switch (type) {
        case Search:
            return search(query);
        case Details:
            return details(query);
        default:
            throw Refusal{UnknownService};
        }
    } catch (const Refusal &refusal) {
        *keep = false;
        return FrameWriter::serviceError(type, refusal.code);
    } catch (...) {
        *keep = false;
        return FrameWriter::serviceError(type, InternalError);
    }
}

QByteArray SearchService::search(const QJsonObject &query) const
{
    const QString q = stringField(query, "q", MaxQueryLength);
    const int page = int(integerField(query, "page", 0, MaxPage));
    const int pageSize = int(integerField(query, "pageSize", 1, MaxPageSize));
    checkSignature(query, QuerySigning::searchText(q, page, pageSize));

    int total = 0;
    const QVector<int> found = hits(q, page * pageSize, pageSize, &total);
    QByteArray json;
    json.reserve(512 + 320 * pageSize);
    json += "{\"page\":";
    appendJson(json, page);
    json += ",\"pageSize\":";
    appendJson(json, pageSize);
    json += ",\"pages\":";
    appendJson(json, (total + pageSize - 1) / pageSize);
    json += ",\"q\":";
    appendJson(json, q);
    json += ",\"results\":[";
    QList<FrameWriter::Resource> resources;
    const PackageList &list = m_index.list();
    for (const int at : found) {
        const QString name = list.string(at, PackageList::Name);
        const QByteArray id = resourceId(name);
        if (at != found.first())
            json += ',';
        json += "{\"arch\":";
        appendJson(json, list.text(at, PackageList::Architecture));
        json += ",\"installedSize\":";
        appendJson(json, list.installedSizeKiB(at));
        json += ",\"name\":";
        appendJson(json, list.text(at, PackageList::Name));
        json += ",\"res\":";
        appendJson(json, QString::fromLatin1(id));
        if (!id.isEmpty())
            resources.append(thumbnail(id, name));
        json += ",\"section\":";
        appendJson(json, list.text(at, PackageList::Section));
        json += ",\"summary\":";
        appendJson(json, list.text(at, PackageList::Summary));
        json += ",\"version\":";
        appendJson(json, list.text(at, PackageList::Version));
        json += '}';
    }
    json += "],\"service\":";
    appendJson(json, int(Search));
    json += ",\"total\":";
    appendJson(json, total);
    json += '}';
    return packed(FrameWriter::libdeflateAnswer(Search, json, resources, CompressAbove));
}

QByteArray SearchService::details(const QJsonObject &query) const
{
    const QString name = stringField(query, "name", MaxNameBytes);
    if (name.toUtf8().size() > MaxNameBytes)
        throw Refusal{MalformedQuery};
    checkSignature(query, QuerySigning::detailsText(name));
    const int at = m_index.find(name);
    if (at < 0)
        throw Refusal{NotFound};
    Package package;
    if (!m_index.details(at, &package))
        throw Refusal{InternalError};
    const Package *p = &package;
    const QByteArray id = resourceId(p->name);
    const QJsonObject answer{{"service", int(Details)},
                             {"name", p->name},
                             {"version", p->version},
                             {"arch", p->architecture},
                             {"section", p->section},
                             {"maintainer", p->maintainer},
                             {"homepage", p->homepage},
                             {"depends", p->depends},
                             {"installedSize", p->installedSizeKiB},
                             {"summary", p->summary},
                             {"description", p->description},
                             {"res", QString::fromLatin1(id)}};
    QList<FrameWriter::Resource> resources;
    if (!id.isEmpty())
        resources.append(thumbnail(id, p->name));
    return packed(FrameWriter::libdeflateAnswer(Details, QJsonDocument(answer).toJson(QJsonDocument::Compact),
                                                resources, CompressAbove));
}

QByteArray SearchService::feedback(const QByteArray &body)
{
    QJsonObject answer;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    const QJsonValue text = document.object().value(QLatin1String("text"));
    const QString trimmed = text.toString().trimmed();
    if (QString::fromUtf8(body).toUtf8() != body || error.error != QJsonParseError::NoError
        || !document.isObject() || !text.isString() || trimmed.isEmpty()
        || trimmed.size() > MaxFeedbackLength) {
        answer = {{"ok", false},
                  {"error",
                   QStringLiteral("expected a JSON object with a non-empty \"text\" of at most %1 characters")
                       .arg(MaxFeedbackLength)}};
    } else {
        answer = {{"ok", true},
                  {"id", ++m_feedbackCount},
                  {"chars", trimmed.size()},
                  {"message", QStringLiteral("Thank you for your feedback.")}};
    }
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}
