#ifndef SEARCHSERVICE_H
#define SEARCHSERVICE_H

#include "packageindex.h"
#include "packageparser.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>

class ByteCache;

class QJsonObject;

// What the client and the service agree on beyond the frame layout; service/README.md
// describes the same for readers of the wire.
namespace ServiceProtocol {

enum ServiceType : quint32 {
    Search = 1,
    Details = 2
};

enum ErrorCode : quint8 {
    Ok = 0,
    MalformedQuery = 1, // not UTF-8, not a JSON object, a field missing, mistyped or out of range
    BadSignature = 2,
    UnknownService = 3,
    NotFound = 4, // details of a package that is not installed
    InternalError = 5,
};

constexpr int MaxQueryLength = 256;
constexpr int MaxPage = 1000000;
constexpr int MaxPageSize = 50;
// Every name a search can list (in bytes of UTF-8), so that details accept each of them.
constexpr int MaxNameBytes = PackageParser::MaxNameBytes;
constexpr int MaxFeedbackLength = 2000;
// Answers larger than this travel zlib-compressed.
constexpr int CompressAbove = 1024;

} // namespace ServiceProtocol

// Turns one posted query into one service response frame, and one feedback post into
// JSON text. Thread-safe: the index is never changed after construction.
class SearchService
{
public:
    // Answers are kept up to answerCacheBytes (0: none), and beside them the ranked hits of
    // broad queries up to a quarter as much.
    explicit SearchService(PackageIndex index, size_t answerCacheBytes = DefaultAnswerCacheBytes);
    ~SearchService();

    static constexpr size_t DefaultAnswerCacheBytes = 32 * 1024 * 1024;

    const PackageIndex &index() const { return m_index; }

    // Always a frame; every failure is a frame with a non-zero error byte.
    QByteArray answer(const QByteArray &body) const;
    QByteArray feedback(const QByteArray &body);
    int keptAnswers() const;

private:
    QByteArray compute(const QByteArray &body, bool *keep) const;
    QByteArray search(const QJsonObject &query) const;
    QVector<int> hits(const QString &q, int from, int count, int *total) const;
    QByteArray details(const QJsonObject &query) const;

    PackageIndex m_index;
    std::unique_ptr<ByteCache> m_answers;
    std::unique_ptr<ByteCache> m_rankings; // null without an answer cache
    std::atomic<int> m_feedbackCount{0};
};

#endif
