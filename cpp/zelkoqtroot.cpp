#include "zelkoqtroot.h"

ZelkoQtRoot *ZelkoQtRoot::m_root = nullptr;

ZelkoQtRoot::ZelkoQtRoot(QObject *parent)
    : QObject(parent)
{
}

ZelkoQtRoot *ZelkoQtRoot::getInstance()
{
    if (!m_root)
        m_root = new ZelkoQtRoot(nullptr);
    return m_root;
}

void ZelkoQtRoot::destroy()
{
    // Cleared before the delete so that a singleton destructor sees no root.
    ZelkoQtRoot *root = m_root;
    m_root = nullptr;
    delete root;
}
