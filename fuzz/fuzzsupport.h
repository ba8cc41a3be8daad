#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include "fuzzcheck.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The decoder logs through qDebug on every bad frame; printing that millions of
// times would be most of the run. Warnings and worse still reach stderr.
inline void fuzzQuietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

// One application object for the whole run, as the client has: singletons such
// as the resource cache hang from QObjects that expect one.
inline void fuzzInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(fuzzQuietMessages);
    static QCoreApplication app(*argc, *argv);
}

#endif
