#include "nmea_chunk.h"

#include <cstring>

#include "log.h"

constexpr char LOG_UNIT[] = "nmea_chunk.cpp";

namespace {

constexpr char RMC_TAG[] = "$GPRMC,";
constexpr size_t RMC_TAG_LEN = sizeof RMC_TAG - 1;

// memmem without relying on a GNU extension the target libc may lack.
const char* find_bytes(const char* hay, size_t hay_len, const char* needle, size_t needle_len)
{
    if (needle_len > hay_len)
        return nullptr;
    for (size_t i = 0; i + needle_len <= hay_len; ++i)
        if (hay[i] == needle[0] && memcmp(hay + i, needle, needle_len) == 0)
            return hay + i;
    return nullptr;
}

} // namespace

int extract_gprmc(const char* src, size_t len, char* dst, size_t size)
{
    if (!dst || size == 0)
        return 0;
    memset(dst, 0, size);
    if (!src)
        return 0;
    const char* start = find_bytes(src, len, RMC_TAG, RMC_TAG_LEN);
    if (!start)
        return 0;
    size_t offset = static_cast<size_t>(start - src);
    size_t rest = len - offset;
    LOG(LOG_DEBUG, "Debug： extract_gprmc %.*s", static_cast<int>(rest), start);
    // The next sentence may start right after "$GP" at the earliest.
    const void* next = rest > 3 ? memchr(start + 3, '$', rest - 3) : nullptr;
    if (!next)
        return 0;
    size_t end = static_cast<size_t>(static_cast<const char*>(next) - src);
    size_t count = end - offset;
    if (count > size - 1)
        count = size - 1;
    memcpy(dst, start, count);
    LOG(LOG_DEBUG, "Debug： tmp1=0x%x,tmp2=0x%x, return str=%.*s", static_cast<unsigned>(offset),
        static_cast<unsigned>(end), static_cast<int>(count), dst);
    return static_cast<int>(count);
}
