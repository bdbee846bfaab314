// Included by each daemon's sources: their times (period ends, start times,
// clock steps) must not wrap in January 2038 on the 32-bit router.
#pragma once

#include <ctime>

static_assert(sizeof(time_t) >= 8,
              "time_t must be 64 bits: 32-bit glibc builds need _TIME_BITS=64 with _FILE_OFFSET_BITS=64");
