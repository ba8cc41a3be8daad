#ifndef ZELKOAPPEARANCE_H
#define ZELKOAPPEARANCE_H

#include <QObject>
#include <qqml.h>

class QDBusVariant;

// The QML singleton "Appearance": the system's light or dark preference, as the XDG desktop
// portal publishes it on the session bus (org.freedesktop.appearance color-scheme), read at
// start without waiting for the answer and followed as it changes. No portal, no bus or an
// error leave it at NoPreference, which is light.
class ZelkoAppearance : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Appearance)
    QML_SINGLETON
    Q_PROPERTY(bool dark READ dark NOTIFY darkChanged)
    Q_PROPERTY(int colorScheme READ colorScheme NOTIFY colorSchemeChanged)
public:
    // The portal's values of color-scheme.
    enum ColorScheme {
        NoPreference = 0,
        PreferDark = 1,
        PreferLight = 2
    };
    Q_ENUM(ColorScheme)

    explicit ZelkoAppearance(QObject *parent = nullptr);

    int colorScheme() const { return m_colorScheme; }
    bool dark() const { return m_colorScheme == PreferDark; }

signals:
    void colorSchemeChanged();
    void darkChanged();

private slots:
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    // Asks the portal with method (ReadOne, or Read of older portals) without waiting. Until
    // the answer has been taken, a QDBusPendingCallWatcher child of this object waits for it.
    void read(const QString &method);
    void setColorScheme(QVariant value);

    int m_colorScheme = NoPreference;
};

#endif
