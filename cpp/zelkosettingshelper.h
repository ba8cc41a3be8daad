#ifndef ZELKOSETTINGSHELPER_H
#define ZELKOSETTINGSHELPER_H

#include <QObject>
#include <QVariant>

// The QML element "Settings": storage slots go to ZelkoSettings, identity slots to
// ZelkoStaticData. Holds nothing itself, so any number of elements share one store.
class ZelkoSettingsHelper : public QObject
{
    Q_OBJECT
public:
    ZelkoSettingsHelper();

public slots:
    QVariant value(QString key);
    void setValue(QString key, QVariant value);
    bool contains(QString key);
    void remove(QString key);
    QString uid();
    QString vid();
    QString cid();
    QString pid();
    QString info();
};

#endif
