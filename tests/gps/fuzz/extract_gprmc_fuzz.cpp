// libFuzzer target: any byte sequence as a GPS chunk, any destination size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "nmea_chunk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the destination size, so short buffers are covered too.
    size_t dst_size = 1 + data[0] % 128;
    std::vector<char> chunk(data + 1, data + size);
    std::vector<char> dst(dst_size);
    int n = extract_gprmc(chunk.data(), chunk.size(), dst.data(), dst.size());
    if (n < 0 || static_cast<size_t>(n) >= dst_size || dst[dst_size - 1] != '\0')
        __builtin_trap();
    if (n > 0 && memcmp(dst.data(), "$GPRMC,", n < 7 ? n : 7) != 0)
        __builtin_trap();
    return 0;
}
