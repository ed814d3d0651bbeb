#pragma once

#include <cstdio>
#include <cstdlib>

// A property that does not hold aborts, so the fuzzer keeps the input as a
// crash and the replay program stops with a failure.
#define FUZZ_CHECK(condition, what)                                                            \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "property failed at %s:%d: %s\n", __FILE__, __LINE__, what); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
