#ifndef ZELKOQTROOT_H
#define ZELKOQTROOT_H

#include <QObject>

// Parent of every process-wide singleton, so that one destroy() at shutdown
// deletes them all. Created lazily by the first singleton that needs it.
class ZelkoQtRoot : public QObject
{
    Q_OBJECT
public:
    // True once some singleton has created the root and destroy() has not run since.
    static bool exists() { return m_root != nullptr; }

public slots:
    static ZelkoQtRoot *getInstance();
    static void destroy();

private:
    explicit ZelkoQtRoot(QObject *parent);
    static ZelkoQtRoot *m_root;
};

#endif
