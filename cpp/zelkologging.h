#ifndef ZELKOLOGGING_H
#define ZELKOLOGGING_H

#include <QLoggingCategory>

// The debug lines of the system, by area. Off by default, so that a program importing
// the module stays quiet; the zelko program turns them on (zelkoEnableDebugLines).
// QT_LOGGING_RULES overrides both ways: "zelko.*.debug=true" shows them anywhere,
// "zelko.*=false" silences zelko, "zelko.frame=false" one area.
Q_DECLARE_LOGGING_CATEGORY(zelkoNetwork) // "zelko.network": transport and request objects
Q_DECLARE_LOGGING_CATEGORY(zelkoFrame)   // "zelko.frame": the response frame decoder
Q_DECLARE_LOGGING_CATEGORY(zelkoDevice)  // "zelko.device": device information

// Turns the debug lines on, below whatever QT_LOGGING_RULES says.
void zelkoEnableDebugLines();

#endif
