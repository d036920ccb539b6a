// The invariants written beside the engine's records, checked where the
// tests run (the host build defines LUMBRIX_CHECK_INVARIANTS): a broken one
// stops the run at the step that broke it. Compiled out of the program.
#pragma once

#if defined(LUMBRIX_CHECK_INVARIANTS)
#include <cstdio>
#include <cstdlib>
#define ENGINE_INVARIANT(condition)                                                                 \
    ((condition) ? (void)0                                                                          \
                 : (std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition), \
                    std::abort()))
#else
#define ENGINE_INVARIANT(condition) ((void)sizeof(condition))
#endif
