#ifndef SKIPS_H
#define SKIPS_H

#include <QtTest>

// The only reasons a suite may skip a case: something outside the build that is
// not installed here. scripts/check-skips.sh fails a run on any other reason.
#define ZELKO_SKIP_WITHOUT_TOOL(what) QSKIP("missing optional tool: " what)
#define ZELKO_SKIP_WITHOUT_CPU_FEATURE(what) QSKIP("missing optional CPU feature: " what)

#endif
