#ifndef ZELKORESPONSEINFO_H
#define ZELKORESPONSEINFO_H

#include <QObject>
#include <QString>

// What one service response frame decoded to.
class ZelkoResponseInfo : public QObject
{
    Q_OBJECT
public:
    explicit ZelkoResponseInfo(QObject *parent)
        : QObject(parent)
        , JsonString(QLatin1String(""))
    {
    }

    int ServiceType = 0;
    int ErrorCode = 0;
    QString JsonString;
};

#endif
