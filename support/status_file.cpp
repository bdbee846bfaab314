#include "status_file.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "own_file.h"
#include "paths.h"

namespace {

// One line as formatted, before its control characters are escaped.
constexpr int STATUS_LINE_SIZE = 1024;

long long monotonic_ms()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace

bool status_begin(StatusFile& status)
{
    long long now = monotonic_ms();
    if (now < status.next_look_ms)
        return false;
    status.next_look_ms = now + STATUS_LOOK_INTERVAL_MS;
    status.length = 0;
    status.text[0] = '\0';
    status_add(status, "pid", "%d", static_cast<int>(getpid()));
    return true;
}

void status_add(StatusFile& status, const char* key, const char* format, ...)
{
    char value[STATUS_LINE_SIZE];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(value, sizeof value, format, args);
    va_end(args);
    if (n < 0)
        return;
    char line[4 * STATUS_LINE_SIZE];
    size_t used = static_cast<size_t>(snprintf(line, sizeof line, "%s=", key));
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p && used + 5 < sizeof line; ++p) {
        if (*p < 0x20 || *p == 0x7F)
            used += static_cast<size_t>(snprintf(line + used, sizeof line - used, "\\x%02X", *p));
        else
            line[used++] = static_cast<char>(*p);
    }
    line[used++] = '\n';
    if (status.length + used >= sizeof status.text)
        return;
    memcpy(status.text + status.length, line, used);
    status.length += used;
    status.text[status.length] = '\0';
}

int status_publish(StatusFile& status)
{
    if (status.ever_written && status.length == status.written_length &&
        memcmp(status.text, status.written, status.length) == 0)
        return 0;
    RootedPath target(status.path);
    RootedPath temp = RootedPath::format("%s.tmp", status.path);
    if (replace_own_file(target.c_str(), temp.c_str(), status.text, status.length) != 0)
        return -1;
    memcpy(status.written, status.text, status.length);
    status.written_length = status.length;
    status.ever_written = true;
    return 0;
}
