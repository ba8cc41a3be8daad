#ifndef FUZZCHECK_H
#define FUZZCHECK_H

#include <cstdio>
#include <cstdlib>

// A property the target checks; failing it is a finding like a crash. Free of Qt, for
// the targets that run the service's code alone.
#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                   \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

#endif
