#ifndef STREAMMETHODS_H
#define STREAMMETHODS_H

#include "bytereader.h"

#include <QObject>
#include <QBuffer>
#include <QByteArray>
#include <QString>

// Readers for the service's byte formats: little-endian unsigned integers,
// length-prefixed strings and byte blocks. They never fail: a field cut short
// by the end of the data yields what could be read, and the buffer advances by
// exactly the bytes obtained.
class StreamMethods : public QObject
{
    Q_OBJECT
public:
    explicit StreamMethods(QObject *parent);

public slots:
    static QByteArray getNBytesFromBuffer(QBuffer *buffer, qint64 length);
    static qint64 getIntFromB(QBuffer *buffer);
    static qint64 getIntFrom2B(QBuffer *buffer);
    static qint64 getIntFrom4B(QBuffer *buffer);
    static QString getStrFromB(QBuffer *buffer);
    static QString getStrFrom2B(QBuffer *buffer);
    static QString getStrFrom4B(QBuffer *buffer);
    static QByteArray getByteArrayFrom4B(QBuffer *buffer);
    static unsigned long getCrc32(QByteArray buf);
};

#endif // STREAMMETHODS_H
