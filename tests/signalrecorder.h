#ifndef SIGNALRECORDER_H
#define SIGNALRECORDER_H

#include "onerequest.h"
#include "zelkoservicehelper.h"

#include <QtTest>

// Every signal of one Request element with its key, in the order emitted.
struct SignalRecorder
{
    QList<QVariantList> events;
    explicit SignalRecorder(ZelkoServiceHelper *element)
    {
        QObject::connect(element, &ZelkoServiceHelper::error, [this](int code, int key) {
            events.append({QStringLiteral("error"), code, key});
        });
        QObject::connect(element, &ZelkoServiceHelper::response,
                         [this](int type, int error, const QString &json, int key) {
                             events.append({QStringLiteral("response"), type, error, json, key});
                         });
        QObject::connect(element, &ZelkoServiceHelper::sslResponse, [this](const QString &json, int key) {
            events.append({QStringLiteral("sslResponse"), json, key});
        });
    }
    bool waitFor(int count, int ms = 20000)
    {
        return QTest::qWaitFor([&] { return events.size() >= count; }, ms);
    }
    // The events of one request, without the key.
    QList<QVariantList> forKey(int key) const
    {
        QList<QVariantList> out;
        for (const QVariantList &e : events)
            if (e.last().toInt() == key)
                out.append(e.mid(0, e.size() - 1));
        return out;
    }
};

// Request objects an element still holds: none once every completion was delivered.
inline int requestsHeldBy(const QObject &element)
{
    return element.findChildren<OneRequest *>().size();
}

#endif
