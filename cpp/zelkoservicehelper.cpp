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

void ZelkoServiceHelper::arrived(QByteArray data, OneRequest *ref)
{
    const int key = ref->key();
    QBuffer buffer(&data);
    QByteArray content;
    QBuffer contentBuff(&content);
    ZelkoResponseInfo *info = nullptr;
    bool failed = false;

    try {
        buffer.open(QIODevice::ReadOnly);
        if (data.size() < 10)
            throw DecodeFailure{"Buffer size is too short"};

        info = new ZelkoResponseInfo(this);
        buffer.seek(0);
        if (StreamMethods::getIntFrom4B(&buffer) != 0)
            throw DecodeFailure{"Data head invalid"};
        info->ServiceType = int(quint32(StreamMethods::getIntFrom4B(&buffer)));
        info->ErrorCode = int(StreamMethods::getIntFromB(&buffer));
        if (info->ErrorCode != 0)
            throw DecodeFailure{"Service error code :"};

        const qint64 flagCompress = StreamMethods::getIntFromB(&buffer);
        const qint64 originalLen = StreamMethods::getIntFrom4B(&buffer);
        if (flagCompress == 0) {
            content = StreamMethods::getNBytesFromBuffer(&buffer, originalLen);
        } else if (flagCompress == 2) {
            const qint64 compressedLen = StreamMethods::getIntFrom4B(&buffer);
            QByteArray compressed = StreamMethods::getNBytesFromBuffer(&buffer, compressedLen);
            content = DecompressMethods::ZlibDecompress(&compressed, originalLen);
        } else {
            qDebug() << "Compress flag invalid";
            throw DecodeFailure{"Compress flag invalid"};
        }
        if (content.isEmpty()) {
            qDebug() << "Content Data error";
            throw DecodeFailure{"Content Data error"};
        }

        contentBuff.open(QIODevice::ReadOnly);
        if (StreamMethods::getIntFromB(&contentBuff) != 0)
            parseResource(&contentBuff);
        info->JsonString = StreamMethods::getStrFrom4B(&contentBuff);
    } catch (...) {
        // The reason text stays inside: QML learns only that decoding failed.
        failed = true;
    }

    if (failed)
        emit error(OneRequest::Error, key);
    if (info) {
        emit response(info->ServiceType, info->ErrorCode, info->JsonString, key);
        info->deleteLater();
    }
    contentBuff.close();
    buffer.close();
    ref->deleteLater();
}

void ZelkoServiceHelper::parseResource(QBuffer *buffer)
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
            StreamMethods::getIntFromB(&resBuff); // resource type: not used by the client
            const QByteArray qsResData = StreamMethods::getByteArrayFrom4B(&resBuff);
            cache->setData(qsResID, qsResData);
            ++realCount;
        }
        if (realCount != resCount)
            throw DecodeFailure{"resource count not same before parse and after parse!"};
    } catch (...) {
        // A bad block costs only its own entries; the JSON text after it is still read.
    }
}
