#ifndef ZELKOSTATICDATA_H
#define ZELKOSTATICDATA_H

#include <QObject>
#include <QString>

// The client's fixed identifiers, the service address and the device description.
class ZelkoStaticData : public QObject
{
    Q_OBJECT
public:
    explicit ZelkoStaticData(QObject *parent = nullptr);

    static QString pid();
    static QString cid();
    static QString vid();
    static QString uid();
    static QString info();
    static QString serviceUrl();
    static QString serviceHost();

    // The text of info() for the given values; info() feeds it the device's own.
    static QString infoText(const QString &imei, const QString &productName, const QString &model,
                            const QString &osVersion, const QString &firmwareVersion);
};

#endif
