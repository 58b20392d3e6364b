#pragma once

// What every fuzz target shares: the entry points libFuzzer calls, and a check that ends the run
// on a broken property so that the fuzzer keeps the input as a crash.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/Portability.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional: runs once before the first input (the replay program calls it too).
extern "C" DRAVIX_WEAK int LLVMFuzzerInitialize(int* argc, char*** argv);

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
