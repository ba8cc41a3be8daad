#ifndef ZELKOLOGGING_H
#define ZELKOLOGGING_H

#include <QLoggingCategory>

// The debug lines of the system, by area, all on by default:
// QT_LOGGING_RULES="zelko.*=false" silences them, "zelko.frame=false" one area.
Q_DECLARE_LOGGING_CATEGORY(zelkoNetwork) // "zelko.network": transport and request objects
Q_DECLARE_LOGGING_CATEGORY(zelkoFrame)   // "zelko.frame": the response frame decoder
Q_DECLARE_LOGGING_CATEGORY(zelkoDevice)  // "zelko.device": device information

#endif
