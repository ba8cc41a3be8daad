#include "zelkoservicehelper.h"
#include "bytereader.h"
#include "httphelper.h"
#include "resourcesmap.h"
#include "zelkoencrypt.h"
#include "zelkoresponseinfo.h"
#include "zelkostaticdata.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QMetaMethod>
#include <QQmlInfo>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QUrl>

ZelkoServiceHelper::ZelkoServiceHelper()
    : QObject(nullptr)
{
}

QString ZelkoServiceHelper::url() const
{
    return m_url.isEmpty() ? defaultUrl() : m_url;
}

void ZelkoServiceHelper::setUrl(const QString &url)
{
    if (url == m_url)
        return;
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (!url.isEmpty()
        && (!parsed.isValid() || parsed.host().isEmpty()
            || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))))
        qmlWarning(this) << "url \"" << url << "\" is not an http or https address: requests to it will fail";
    m_url = url;
    emit urlChanged();
}

QString ZelkoServiceHelper::defaultUrl()
{
    return ZelkoStaticData::serviceUrl();
}

void ZelkoServiceHelper::setTimeout(int ms)
{
    if (ms < 0) {
        qmlWarning(this) << "timeout " << ms << " refused: give 0 (no limit) or a number of milliseconds";
        return;
    }
    if (ms == m_timeout)
        return;
    m_timeout = ms;
    emit timeoutChanged();
}

void ZelkoServiceHelper::setVerifyPeer(bool verify)
{
    if (verify == m_verifyPeer)
        return;
    m_verifyPeer = verify;
    emit verifyPeerChanged();
}

void ZelkoServiceHelper::setPinnedCertificate(const QString &certificate)
{
    if (certificate == m_pinnedCertificate)
        return;
    m_pinnedCertificate = certificate;
    m_pin = certificate.isEmpty() ? QByteArray() : pinDigest(certificate);
    // Kept all the same: a pin that names nothing refuses every server rather than none.
    if (!certificate.isEmpty() && m_pin.isEmpty())
        qmlWarning(this) << "pinnedCertificate \"" << certificate
                         << "\" is neither a readable PEM certificate nor a SHA-256 fingerprint: "
                            "requestHttps will refuse every server";
    emit pinnedCertificateChanged();
}

QByteArray ZelkoServiceHelper::pinDigest(const QString &certificate)
{
    QString hex = certificate.trimmed();
    hex.remove(QLatin1Char(':'));
    static const QRegularExpression fingerprint(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    if (fingerprint.match(hex).hasMatch())
        return QByteArray::fromHex(hex.toLatin1());
    const QUrl url(certificate);
    const QString path = url.isLocalFile() ? url.toLocalFile() : certificate;
    QFile pem(path);
    if (!pem.open(QIODevice::ReadOnly))
        return QByteArray();
    const QList<QSslCertificate> certificates = QSslCertificate::fromDevice(&pem, QSsl::Pem);
    return certificates.isEmpty() ? QByteArray() : certificates.first().digest(QCryptographicHash::Sha256);
}

bool ZelkoServiceHelper::reportsOutcome() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&ZelkoServiceHelper::finished);
    return isSignalConnected(signal);
}

OneRequest *ZelkoServiceHelper::started(OneRequest *ref)
{
    if (m_timeout > 0)
        ref->setTimeLimit(m_timeout);
    return ref;
}

int ZelkoServiceHelper::beginRequest(QString *data)
{
    OneRequest *ref = started(HttpHelper::getInstance()->post(url(), data, this));
    connect(ref, &OneRequest::error, this, &ZelkoServiceHelper::onError);
    connect(ref, &OneRequest::finished, this, &ZelkoServiceHelper::arrived);
    return ref->key();
}

int ZelkoServiceHelper::request(QString str)
{
    return beginRequest(&str);
}

int ZelkoServiceHelper::requestHttps(QString content, QString url)
{
    const bool pinned = !m_pinnedCertificate.isEmpty();
    HttpHelper *http = HttpHelper::getInstance();
    OneRequest *ref =
        started(pinned ? http->postSslChecked(url, &content, this, HttpHelper::PeerCheck::ByCaller, m_pin)
                : m_verifyPeer ? http->postSslChecked(url, &content, this, HttpHelper::PeerCheck::Verify)
                               : http->postSsl(url, &content, this));
    if (pinned)
        ref->pinPeer(m_pin);
    connect(ref, &OneRequest::error, this, &ZelkoServiceHelper::onError);
    connect(ref, &OneRequest::finished, this, &ZelkoServiceHelper::sslArrived);
    return ref->key();
}

void ZelkoServiceHelper::cancel(int key)
{
    if (key == 0)
        return;
    try {
        // A key whose request already completed names nothing and is ignored.
        if (OneRequest *ref = OneRequest::fromKey(key))
            ref->cancelReply();
    } catch (...) {
    }
}

QString ZelkoServiceHelper::urlEncode(QString url)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(url));
}

QString ZelkoServiceHelper::getKey()
{
    ZelkoEncrypt encrypt(nullptr);
    return encrypt.zelkoLib_getKey();
}

QString ZelkoServiceHelper::getEncryptString(QString str)
{
    ZelkoEncrypt encrypt(nullptr);
    return encrypt.zelkoLib_getEncryptString(str);
}

QString ZelkoServiceHelper::getEncryptParam(QString str, QString key)
{
    ZelkoEncrypt encrypt(nullptr);
    return encrypt.zelkoLib_getEncryptParam(str, key);
}

namespace {

// The account finished() gives of one request.
struct Outcome
{
    int code = 0;
    int serviceError = 0;
    int type = 0;
    QString json;

    QVariantMap toMap(const OneRequest *ref, const QString &message) const
    {
        return {{QStringLiteral("ok"), code == 0 && serviceError == 0},
                {QStringLiteral("code"), code},
                {QStringLiteral("serviceError"), serviceError},
                {QStringLiteral("type"), type},
                {QStringLiteral("json"), json},
                {QStringLiteral("httpStatus"), ref->httpStatus()},
                {QStringLiteral("message"), message}};
    }
};

QString withStatus(const QString &text, const OneRequest *ref)
{
    return ref->httpStatus() ? text + QStringLiteral(" (HTTP %1).").arg(ref->httpStatus())
                             : text + QLatin1Char('.');
}

// The service's error codes by the names its protocol gives them; others by number only.
QString serviceErrorName(int code)
{
    static const char *const names[] = {"malformed query", "bad signature", "unknown service type",
                                        "not found", "internal error"};
    return code >= 1 && code <= 5 ? QStringLiteral(", ") + QLatin1String(names[code - 1]) : QString();
}

QString answered(const OneRequest *ref)
{
    return withStatus(ref->url() + QStringLiteral(" answered"), ref);
}

} // namespace

void ZelkoServiceHelper::onError(OneRequest::ErrorType type, OneRequest *ref)
{
    const int key = ref->key();
    emit error(int(type), key);
    if (!reportsOutcome()) {
        ref->deleteLater();
        return;
    }
    Outcome outcome;
    outcome.code = int(type);
    const QString why = ref->failureText();
    const QString text = QStringLiteral("The request to ") + ref->url() + QStringLiteral(" failed: ") + why;
    // A status already named in the reason is not named twice.
    emit finished(key, outcome.toMap(ref, why.startsWith(QLatin1String("HTTP ")) ? text + QLatin1Char('.')
                                                                                 : withStatus(text, ref)));
    ref->deleteLater();
}

void ZelkoServiceHelper::sslArrived(QByteArray data, OneRequest *ref)
{
    const int key = ref->key();
    Outcome outcome;
    // All of the body: fromUtf8(QByteArray) would stop at its first zero byte.
    outcome.json = QString::fromUtf8(data.constData(), data.size());
    emit sslResponse(outcome.json, key);
    if (reportsOutcome())
        emit finished(key, outcome.toMap(ref, answered(ref)));
    ref->deleteLater();
}

namespace {

// Entries go to the cache in block order, as the Request element stores them.
// Memory running out ends the stores there; the frame's text is still delivered.
void storeInCache(QVector<ZelkoFrameReport::Resource> &&resources)
{
    try {
        ResourcesMap::getInstance()->store(std::move(resources));
    } catch (...) {
    }
}

} // namespace

void ZelkoServiceHelper::arrived(QByteArray data, OneRequest *ref)
{
    const int key = ref->key();
    ZelkoResponseInfo *info = nullptr;
    bool failed = true;
    QString reason = ZelkoFrameReport::failureText(ZelkoFrameReport::DecodingAborted, 0);
    Outcome outcome;
    try {
        ZelkoFrameReport report = ZelkoFrameReport::decode(data);
        // The cache exists once a frame announces resources, whatever the block holds.
        if (report.resourceFlag > 0)
            storeInCache(std::move(report.resources));
        failed = !report.ok();
        reason = report.failure == ZelkoFrameReport::ServiceError ? QString() : report.failureText();
        if (report.hasRecord) {
            info = new ZelkoResponseInfo(this);
            info->ServiceType = report.serviceType;
            info->ErrorCode = report.errorCode;
            info->JsonString = std::move(report.json);
        }
    } catch (...) {
        failed = true;
    }

    // The reason text stays out of the described signals: they say only that decoding failed.
    if (failed)
        emit error(OneRequest::Error, key);
    if (info) {
        emit response(info->ServiceType, info->ErrorCode, info->JsonString, key);
        outcome.type = info->ServiceType;
        outcome.serviceError = info->ErrorCode;
        outcome.json = info->JsonString;
        info->deleteLater();
    }
    if (!reportsOutcome()) {
        ref->deleteLater();
        return;
    }
    // A refusal is an answer that decoded; anything else that failed did not.
    QString message;
    if (failed && !reason.isEmpty()) {
        outcome.code = OneRequest::Error;
        message = withStatus(QStringLiteral("The answer from ") + ref->url()
                                 + (ref->redirectTarget().isEmpty()
                                        ? QStringLiteral(" could not be decoded: ") + reason
                                        : QStringLiteral(" redirects to ") + ref->redirectTarget()
                                              + QStringLiteral(", and requests follow no redirect")),
                             ref);
    } else if (outcome.serviceError) {
        message = withStatus(
            ref->url() + QStringLiteral(" refused the query with service error %1").arg(outcome.serviceError)
                + serviceErrorName(outcome.serviceError),
            ref);
    } else {
        message = answered(ref);
    }
    emit finished(key, outcome.toMap(ref, message));
    ref->deleteLater();
}

void ZelkoServiceHelper::parseResource(QBuffer *buffer)
{
    QVector<ZelkoFrameReport::Resource> resources;
    try {
        if (buffer && buffer->isReadable()) {
            // The block starts at the buffer's position; its size check counts the whole buffer.
            const QByteArray bytes = buffer->buffer();
            ByteReader content(bytes);
            content.skip(buffer->pos());
            const qint64 start = content.consumed();
            ZelkoFrameReport::readResourceBlock(content, &resources, bytes);
            if (content.consumed() > start)
                buffer->seek(content.consumed());
        }
    } catch (...) {
    }
    storeInCache(std::move(resources));
}
