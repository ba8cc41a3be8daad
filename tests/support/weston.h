#ifndef WESTON_H
#define WESTON_H

#include <QImage>
#include <QProcess>
#include <QSize>
#include <QTemporaryDir>

class QProcessEnvironment;

// A headless Wayland compositor of the test's own: weston with the pixman renderer on one
// output, its socket in a runtime folder of its own, so that test runs side by side never
// meet. Its screenshots are what it composed, clients and all. Stopped with its owner,
// and with the test process should that die first.
class Weston
{
public:
    Weston() = default;
    ~Weston();
    Weston(const Weston &) = delete;
    Weston &operator=(const Weston &) = delete;

    // size: the output's in logical pixels, as the panel is mounted; scale: its integer
    // scale (the clients' device pixel ratio), so its mode is size * scale; transform:
    // weston's name for how the panel is turned ("normal", "rotate-90", ...). True once
    // clients can connect; error() says why not.
    bool start(QSize size, int scale = 1, const QString &transform = QStringLiteral("normal"));
    void stop();
    QString error() const { return m_error; }

    // Makes a Qt program started with env a client of this compositor.
    void addClientEnvironment(QProcessEnvironment &env) const;
    QString runtimeDir() const { return m_runtime.path(); }
    QString socketPath() const;

    // The output as shown now, in device pixels; null on failure (error() says why).
    QImage screenshot();

    // Where the compositor is, empty when it is not installed.
    static QString binary();

private:
    QTemporaryDir m_runtime;
    QProcess m_process;
    QString m_error;
};

#endif
