#ifndef QUERYSIGNING_H
#define QUERYSIGNING_H

#include <QByteArray>
#include <QString>

#include <functional>

// What a query signs and how, for every C++ peer of the client: the service that checks
// signatures, zelko-frame that writes queries for a shell, the tests and the benchmarks.
// The client's own side is qml/Zelko/Protocol.js with ZelkoEncrypt; the suites post its
// queries to the service, which holds the two to the same rule.
namespace QuerySigning {

using Signer = std::function<QString(const QString &text)>;

// The text each kind of query signs.
QString searchText(const QString &q, int page, int pageSize);
QString detailsText(const QString &name);

// The signature of text, written apart from the client's code: the service is the client's
// peer and must not take the client's code as the definition of a valid signature.
QString sign(const QString &text);

// Signed queries as Protocol.js sends them, byte for byte (JSON.stringify's key order),
// signed by signer (the client's own code, in the tests that stand in for it).
QByteArray searchQuery(const QString &q, int page, int pageSize, const Signer &signer = sign);
QByteArray detailsQuery(const QString &name, const Signer &signer = sign);

} // namespace QuerySigning

#endif // QUERYSIGNING_H
