#ifndef ZELKOSETTINGS_H
#define ZELKOSETTINGS_H

#include <QObject>
#include <QVariant>

class QSettings;

// The one persistent key/value store: the client's, for "Zelko" / "QtClient", or in a
// program that imports the module, that program's own.
class ZelkoSettings : public QObject
{
    Q_OBJECT
public:
    ~ZelkoSettings() override;

public slots:
    static QVariant value(const QString &key);
    static void setValue(const QString &key, const QVariant &value);
    static bool contains(const QString &key);
    static void remove(const QString &key);

public:
    // key as QSettings reads it: slashes at either end and doubled ones dropped. Empty
    // when it names no key ("", "/", "//").
    static QString normalizedKey(const QString &key);
    // The stored keys that remove(key) takes away, in order.
    static QStringList keysUnder(const QString &key);
    // value as the store keeps it: lists and objects from QML as plain lists and maps.
    static QVariant plainValue(const QVariant &value);
    // The library runs in a program of someone else's: the store never names the program.
    static void setHosted();

private:
    explicit ZelkoSettings(QObject *parent);
    static ZelkoSettings *getInstance();

    QSettings *m_settings;
    static ZelkoSettings *m_instance;
    static bool m_hosted;
};

#endif
