#include "zelkologging.h"

#include <QtGlobal>

// Linked into every suite: they check the debug lines as the zelko program writes them,
// which turns them on at start. Children the suites start inherit nothing of it.
static void enableDebugLines()
{
    zelkoEnableDebugLines();
}
Q_CONSTRUCTOR_FUNCTION(enableDebugLines)
