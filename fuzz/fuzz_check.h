// A harness's invariants: a broken one aborts, so that libFuzzer keeps the
// input as a crash, after saying which one broke and where.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                            \
    do {                                                                                            \
        if (!(cond)) {                                                                              \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);       \
            std::abort();                                                                           \
        }                                                                                           \
    } while (0)
