#include "zelkologging.h"

Q_LOGGING_CATEGORY(zelkoNetwork, "zelko.network")
Q_LOGGING_CATEGORY(zelkoFrame, "zelko.frame")
Q_LOGGING_CATEGORY(zelkoDevice, "zelko.device")
