// What both fuzz targets share: the check that stops the run on a wrong
// answer, so that libFuzzer keeps the input that gave it.
#ifndef VAVIREREZI_FUZZ_CHECK_H
#define VAVIREREZI_FUZZ_CHECK_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../../common/bytes.h"

inline void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

#endif
