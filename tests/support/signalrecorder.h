#ifndef SIGNALRECORDER_H
#define SIGNALRECORDER_H

#include "onerequest.h"
#include "zelkoservicehelper.h"

#include <QtTest>

// Every signal of one Request element with its key, in the order emitted; the
// finished() that ends each request apart, in ends.
struct SignalRecorder
{
    QList<QVariantList> events;
    QList<QPair<int, QVariantMap>> ends;
    int lateEvents = 0; // signals of a key after its finished()

    explicit SignalRecorder(ZelkoServiceHelper *element)
    {
        QObject::connect(element, &ZelkoServiceHelper::error, [this](int code, int key) {
            record({QStringLiteral("error"), code, key});
        });
        QObject::connect(element, &ZelkoServiceHelper::response,
                         [this](int type, int error, const QString &json, int key) {
                             record({QStringLiteral("response"), type, error, json, key});
                         });
        QObject::connect(element, &ZelkoServiceHelper::sslResponse, [this](const QString &json, int key) {
            record({QStringLiteral("sslResponse"), json, key});
        });
        QObject::connect(element, &ZelkoServiceHelper::finished, [this](int key, const QVariant &outcome) {
            ends.append({key, outcome.toMap()});
        });
    }
    void record(const QVariantList &event)
    {
        for (const auto &end : qAsConst(ends))
            lateEvents += end.first == event.last().toInt();
        events.append(event);
    }
    // Every request seen ended in exactly one finished(), after its other signals.
    bool eachEndedOnce() const
    {
        QSet<int> keys, ended;
        for (const QVariantList &e : events)
            keys.insert(e.last().toInt());
        for (const auto &end : ends)
            if (!keys.contains(end.first) || ended.contains(end.first))
                return false;
            else
                ended.insert(end.first);
        return lateEvents == 0 && ended == keys;
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
