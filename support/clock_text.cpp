#include "clock_text.h"
#include "time64.h"

#include <cstddef>
#include <ctime>

namespace {

int format_now(char* buf, size_t size, const char* layout)
{
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    strftime(buf, size, layout, &t);
    return 0;
}

} // namespace

int get_date_str(char* buf)
{
    return format_now(buf, 11, "%Y-%m-%d");
}

int get_time_str(char* buf)
{
    return format_now(buf, 9, "%H:%M:%S");
}

int get_datetime_str(char* buf)
{
    return format_now(buf, 20, "%Y-%m-%d %H:%M:%S");
}
