#ifndef ZELKOSETTINGSHELPER_H
#define ZELKOSETTINGSHELPER_H

#include <QObject>
#include <QVariant>
#include <qqml.h>

// The QML element "Settings": storage slots go to ZelkoSettings, identity slots to
// ZelkoStaticData. Holds nothing itself, so any number of elements share one store.
class ZelkoSettingsHelper : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Settings)
public:
    ZelkoSettingsHelper();
    ~ZelkoSettingsHelper() override;

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

private:
    static void changed(const QStringList &keys);

signals:
    // The value stored under key changed, through this element or another one: key as
    // the store names it ("a//b/" is "a/b"); for remove, once per key it took away.
    void valueChanged(QString key);
};

#endif
