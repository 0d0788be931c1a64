// A property that a fuzz target checks: a failure prints what broke and aborts, so libFuzzer
// reports it and keeps the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                 \
    do {                                                                            \
        if (!(condition)) {                                                         \
            std::fprintf(stderr, "fuzz check failed: %s [%s]\n", what, #condition); \
            std::abort();                                                           \
        }                                                                           \
    } while (0)
