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
#include <QRegularExpression>
#include <QSslCertificate>
#include <QUrl>

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

// Entries go to the cache in block order, as the Request element stores them.
// Memory running out ends the stores there; the frame's text is still delivered.
void storeInCache(const QList<ZelkoFrameReport::Resource> &resources)
{
    try {
        ResourcesMap *cache = ResourcesMap::getInstance();
        for (const ZelkoFrameReport::Resource &entry : resources)
            cache->setData(entry.id, entry.data);
    } catch (...) {
    }
}

} // namespace

void ZelkoServiceHelper::arrived(QByteArray data, OneRequest *ref)
{
    const int key = ref->key();
    ZelkoResponseInfo *info = nullptr;
    bool failed = true;
    try {
        const ZelkoFrameReport report = ZelkoFrameReport::decode(data);
        // The cache exists once a frame announces resources, whatever the block holds.
        if (report.resourceFlag > 0)
            storeInCache(report.resources);
        failed = !report.ok();
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
    QList<ZelkoFrameReport::Resource> resources;
    try {
        if (buffer && buffer->isReadable()) {
            // The block starts at the buffer's position; its size check counts the whole buffer.
            ByteReader content(buffer->buffer());
            const qint64 start = content.view(buffer->pos()).size();
            ZelkoFrameReport::readResourceBlock(content, &resources);
            if (content.consumed() > start)
                buffer->seek(content.consumed());
        }
    } catch (...) {
    }
    storeInCache(resources);
}
