#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include "zelkologging.h"

#include <QStringList>
#include <QtGlobal>

#include <optional>

// Collects what is written while it lives, the zelko.* debug lines on as in the zelko
// program: debug lines are kept (and not printed), everything else kept and passed on.
// One at a time, and inside the test run: QTest installs its own handler when it starts.
class LogCapture
{
public:
    LogCapture()
    {
        zelkoEnableDebugLines();
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList debugLines;
    QStringList otherLines; // warnings and worse

    void clear()
    {
        debugLines.clear();
        otherLines.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtDebugMsg) {
            s_current->debugLines.append(text);
            return;
        }
        s_current->otherLines.append(text);
        s_current->m_previous(type, context, text);
    }

    QtMessageHandler m_previous = nullptr;
    static inline LogCapture *s_current = nullptr;
};

#endif
