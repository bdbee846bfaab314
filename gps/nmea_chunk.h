// What the forwarder takes out of one chunk read from the GPS receiver.
#pragma once

#include <cstddef>

// GPS read buffer and RMC buffer, without the terminator.
constexpr int GPS_BUFFER_SIZE = 10240;

// Clears size bytes of dst, then copies the first "$GPRMC," sentence of the
// len bytes at src, up to (not including) the next "$", into dst. A sentence
// with no later "$" is taken as incomplete and not copied. Zero bytes in src
// are data like any other. Copies at most size - 1 bytes, so dst stays
// terminated. Returns the number of bytes copied (0 when none).
int extract_gprmc(const char* src, size_t len, char* dst, size_t size);
