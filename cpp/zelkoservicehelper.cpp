#include "zelkoservicehelper.h"
#include "decompressmethods.h"
#include "httphelper.h"
#include "resourcesmap.h"
#include "streammethods.h"
#include "zelkoencrypt.h"
#include "zelkoresponseinfo.h"
#include "zelkologging.h"
#include "zelkostaticdata.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QUrl>

#include <new>
#include <utility>

namespace {

// A failed check inside the decoding pass; the catch-all at its end turns it into the outcome.
struct DecodeFailure
{
    const char *reason;
};

} // namespace

ZelkoServiceHelper::ZelkoServiceHelper()
    : QObject(nullptr)
{
}

void ZelkoServiceHelper::setTimeout(int ms)
{
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

OneRequest *ZelkoServiceHelper::started(OneRequest *ref)
{
    if (m_timeout > 0)
        ref->setTimeLimit(m_timeout);
    return ref;
}

int ZelkoServiceHelper::beginRequest(QString *data)
{
    OneRequest *ref = started(HttpHelper::getInstance()->post(ZelkoStaticData::serviceUrl(), data, this));
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
        started(pinned         ? http->postSslChecked(url, &content, this, HttpHelper::PeerCheck::ByCaller)
                : m_verifyPeer ? http->postSslChecked(url, &content, this, HttpHelper::PeerCheck::Verify)
                               : http->postSsl(url, &content, this));
    if (pinned)
        ref->pinPeer(pinDigest(m_pinnedCertificate));
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

void ZelkoServiceHelper::onError(OneRequest::ErrorType type, OneRequest *ref)
{
    emit error(int(type), ref->key());
    ref->deleteLater();
}

void ZelkoServiceHelper::sslArrived(QByteArray data, OneRequest *ref)
{
    // All of the body: fromUtf8(QByteArray) would stop at its first zero byte.
    emit sslResponse(QString::fromUtf8(data.constData(), data.size()), ref->key());
    ref->deleteLater();
}

namespace {

// The entries area of a resource block: each entry goes to the cache, and to
// seen when given.
void storeEntries(ResourcesMap *cache, const QByteArray &area, qint64 resCount,
                  QList<ZelkoFrameReport::Resource> *seen)
{
    ByteReader entries(area);
    qint64 realCount = 0;
    while (!entries.atEnd()) {
        const QString qsResID = entries.latin1String(1);
        const int nResType = int(entries.integer(1));
        QByteArray qsResData = entries.byteArray4B();
        cache->setData(qsResID, qsResData);
        if (seen) {
            // Filled in place: every copy of a shared string or array is an atomic operation.
            seen->append(ZelkoFrameReport::Resource());
            ZelkoFrameReport::Resource &entry = seen->last();
            entry.id = qsResID;
            entry.type = nResType;
            entry.data = std::move(qsResData);
        }
        ++realCount;
    }
    if (realCount != resCount)
        throw DecodeFailure{"resource count not same before parse and after parse!"};
}

// The resource block at the content's position. Never fails outward: a bad
// block costs only its own entries; the JSON text after it is still read.
void readResourceBlock(ByteReader &content, QList<ZelkoFrameReport::Resource> *seen, qint64 *declared)
{
    try {
        // The cache exists once a frame announces resources, whatever the block holds.
        ResourcesMap *cache = ResourcesMap::getInstance();
        if (content.size() < 4)
            throw DecodeFailure{"ResBuffer size is too short"};
        const qint64 dataLen = content.integer(4);
        if (dataLen == 0)
            return;
        const qint64 resCount = content.integer(4);
        *declared = resCount;
        storeEntries(cache, content.view(dataLen - 4), resCount, seen);
    } catch (...) {
    }
}

} // namespace

ZelkoFrameReport ZelkoServiceHelper::decodeFrame(const QByteArray &data)
{
    ZelkoFrameReport report;
    // Held for the whole pass: plain content, the compressed stream and the
    // entries area are read in place, and only what is kept is copied.
    const QByteArray frame = data;
    try {
        if (frame.size() < 10)
            throw DecodeFailure{"Buffer size is too short"};

        report.hasRecord = true;
        ByteReader in(frame);
        report.head = in.integer(4);
        if (report.head != 0)
            throw DecodeFailure{"Data head invalid"};
        report.serviceType = int(quint32(in.integer(4)));
        report.errorCode = int(in.integer(1));
        if (report.errorCode != 0)
            throw DecodeFailure{nullptr};

        report.compressFlag = int(in.integer(1));
        report.originalLen = in.integer(4);
        QByteArray content;
        if (report.compressFlag == 0) {
            content = in.view(report.originalLen);
        } else if (report.compressFlag == 2) {
            report.compressedLen = in.integer(4);
            QByteArray compressed = in.view(report.compressedLen);
            report.packedBytes = compressed.size();
            content = DecompressMethods::ZlibDecompress(&compressed, report.originalLen);
        } else {
            qCDebug(zelkoFrame) << "Compress flag invalid";
            throw DecodeFailure{"Compress flag invalid"};
        }
        report.contentBytes = content.size();
        if (content.isEmpty()) {
            qCDebug(zelkoFrame) << "Content Data error";
            throw DecodeFailure{"Content Data error"};
        }

        ByteReader body(content);
        report.resourceFlag = int(body.integer(1));
        if (report.resourceFlag != 0)
            readResourceBlock(body, &report.resources, &report.declaredResources);
        report.json = body.utf8String4B();
    } catch (const DecodeFailure &failure) {
        report.failure = failure.reason ? QString::fromLatin1(failure.reason)
                                        : QStringLiteral("Service error code :%1").arg(report.errorCode);
    } catch (...) {
        // Anything a lower layer raises (memory exhaustion) fails the frame the same way.
        report.failure = QStringLiteral("Decoding aborted");
    }
    return report;
}

void ZelkoServiceHelper::arrived(QByteArray data, OneRequest *ref)
{
    const int key = ref->key();
    ZelkoResponseInfo *info = nullptr;
    bool failed = true;
    try {
        const ZelkoFrameReport report = decodeFrame(data);
        failed = !report.failure.isEmpty();
        if (report.hasRecord) {
            info = new ZelkoResponseInfo(this);
            info->ServiceType = report.serviceType;
            info->ErrorCode = report.errorCode;
            info->JsonString = report.json;
        }
    } catch (...) {
        failed = true;
    }

    // The reason text stays inside: QML learns only that decoding failed.
    if (failed)
        emit error(OneRequest::Error, key);
    if (info) {
        emit response(info->ServiceType, info->ErrorCode, info->JsonString, key);
        info->deleteLater();
    }
    ref->deleteLater();
}

void ZelkoServiceHelper::parseResource(QBuffer *buffer)
{
    try {
        ResourcesMap *cache = ResourcesMap::getInstance();
        if (buffer->size() < 4)
            throw DecodeFailure{"ResBuffer size is too short"};
        const qint64 dataLen = StreamMethods::getIntFrom4B(buffer);
        if (dataLen == 0)
            return;
        const qint64 resCount = StreamMethods::getIntFrom4B(buffer);
        // A copy: the caller's buffer may change once this returns.
        storeEntries(cache, StreamMethods::getNBytesFromBuffer(buffer, dataLen - 4), resCount, nullptr);
    } catch (...) {
    }
}
