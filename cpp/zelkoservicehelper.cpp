#include "zelkoservicehelper.h"
#include "decompressmethods.h"
#include "httphelper.h"
#include "resourcesmap.h"
#include "streammethods.h"
#include "zelkoencrypt.h"
#include "zelkoresponseinfo.h"
#include "zelkostaticdata.h"

#include <QBuffer>
#include <QDebug>
#include <QUrl>

#include <new>

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

int ZelkoServiceHelper::beginRequest(QString *data)
{
    OneRequest *ref = HttpHelper::getInstance()->post(ZelkoStaticData::serviceUrl(), data, this);
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
    OneRequest *ref = HttpHelper::getInstance()->postSsl(url, &content, this);
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
    emit sslResponse(QString::fromUtf8(data), ref->key());
    ref->deleteLater();
}

namespace {

// The resource block at the buffer's position: entries go to the cache one by
// one, and to seen when given. Never fails outward.
void readResourceBlock(QBuffer *buffer, QList<ZelkoFrameReport::Resource> *seen)
{
    ResourcesMap *cache = ResourcesMap::getInstance();
    QByteArray resourceContent;
    QBuffer resBuff(&resourceContent);
    try {
        if (buffer->size() < 4)
            throw DecodeFailure{"ResBuffer size is too short"};
        const qint64 dataLen = StreamMethods::getIntFrom4B(buffer);
        if (dataLen == 0)
            return;
        const qint64 resCount = StreamMethods::getIntFrom4B(buffer);
        resourceContent = StreamMethods::getNBytesFromBuffer(buffer, dataLen - 4);
        resBuff.open(QIODevice::ReadOnly);
        qint64 realCount = 0;
        while (!resBuff.atEnd()) {
            const QString qsResID = StreamMethods::getStrFromB(&resBuff);
            const int nResType = int(StreamMethods::getIntFromB(&resBuff));
            const QByteArray qsResData = StreamMethods::getByteArrayFrom4B(&resBuff);
            cache->setData(qsResID, qsResData);
            if (seen)
                seen->append({qsResID, nResType, qsResData});
            ++realCount;
        }
        if (realCount != resCount)
            throw DecodeFailure{"resource count not same before parse and after parse!"};
    } catch (...) {
        // A bad block costs only its own entries; the JSON text after it is still read.
    }
}

} // namespace

ZelkoFrameReport ZelkoServiceHelper::decodeFrame(const QByteArray &data)
{
    ZelkoFrameReport report;
    QByteArray frame = data;
    QBuffer buffer(&frame);
    QByteArray content;
    QBuffer contentBuff(&content);
    try {
        buffer.open(QIODevice::ReadOnly);
        if (frame.size() < 10)
            throw DecodeFailure{"Buffer size is too short"};

        report.hasRecord = true;
        buffer.seek(0);
        report.head = StreamMethods::getIntFrom4B(&buffer);
        if (report.head != 0)
            throw DecodeFailure{"Data head invalid"};
        report.serviceType = int(quint32(StreamMethods::getIntFrom4B(&buffer)));
        report.errorCode = int(StreamMethods::getIntFromB(&buffer));
        if (report.errorCode != 0)
            throw DecodeFailure{nullptr};

        report.compressFlag = int(StreamMethods::getIntFromB(&buffer));
        report.originalLen = StreamMethods::getIntFrom4B(&buffer);
        if (report.compressFlag == 0) {
            content = StreamMethods::getNBytesFromBuffer(&buffer, report.originalLen);
        } else if (report.compressFlag == 2) {
            report.compressedLen = StreamMethods::getIntFrom4B(&buffer);
            QByteArray compressed = StreamMethods::getNBytesFromBuffer(&buffer, report.compressedLen);
            report.packedBytes = compressed.size();
            content = DecompressMethods::ZlibDecompress(&compressed, report.originalLen);
        } else {
            qDebug() << "Compress flag invalid";
            throw DecodeFailure{"Compress flag invalid"};
        }
        report.contentBytes = content.size();
        if (content.isEmpty()) {
            qDebug() << "Content Data error";
            throw DecodeFailure{"Content Data error"};
        }

        contentBuff.open(QIODevice::ReadOnly);
        report.resourceFlag = int(StreamMethods::getIntFromB(&contentBuff));
        if (report.resourceFlag != 0)
            readResourceBlock(&contentBuff, &report.resources);
        report.json = StreamMethods::getStrFrom4B(&contentBuff);
    } catch (const DecodeFailure &failure) {
        report.failure = failure.reason ? QString::fromLatin1(failure.reason)
                                        : QStringLiteral("Service error code :%1").arg(report.errorCode);
    } catch (...) {
        // Anything a lower layer raises (memory exhaustion) fails the frame the same way.
        report.failure = QStringLiteral("Decoding aborted");
    }
    contentBuff.close();
    buffer.close();
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
    readResourceBlock(buffer, nullptr);
}
