// The fuzz targets' check: a broken condition is an assertion, which the fuzzer reports as a
// crash with the condition's text.
#pragma once
#include "lib_base/gmlassert.h"

#define FUZZ_CHECK(cond)                                     \
    do {                                                     \
        if (!(cond)) DoAssert(__FILE__, __LINE__, #cond, 0); \
    } while (0)
