#include "zelkologging.h"

Q_LOGGING_CATEGORY(zelkoNetwork, "zelko.network", QtInfoMsg)
Q_LOGGING_CATEGORY(zelkoFrame, "zelko.frame", QtInfoMsg)
Q_LOGGING_CATEGORY(zelkoDevice, "zelko.device", QtInfoMsg)

void zelkoEnableDebugLines()
{
    // Rules set here come before those of the environment, which keep the last word.
    QLoggingCategory::setFilterRules(QStringLiteral("zelko.*.debug=true"));
}
