#include "uci_access.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "shell.h"
#include "text.h"

namespace {

// "exec uci get" and a key as long as the set commands build.
constexpr int GET_COMMAND_SIZE = 144;

// A command or key that does not fit its buffer would name another option
// (or leave a quote open): false, and the caller runs nothing.
__attribute__((format(printf, 3, 4))) bool format_whole(char* buf, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buf, size, format, args);
    va_end(args);
    return n >= 0 && static_cast<size_t>(n) < size;
}

} // namespace

void get_data_str(const char* key, char* buf, int size)
{
    char cmd[GET_COMMAND_SIZE];
    // Left untouched, as for a key that does not exist. exec: the shell
    // does not wait beside uci as one more process.
    if (!format_whole(cmd, sizeof cmd, "exec uci get %s", key))
        return;
    FILE* pipe = open_command(cmd);
    if (!pipe) {
        printf("get_data_str error \n");
        return;
    }
    // fgets leaves buf untouched when uci prints nothing (a missing key),
    // so a caller's preset default survives.
    if (fgets(buf, size, pipe))
        trim_newline(buf, size);
    pclose(pipe);
}

int get_data_int(const char* key, int* out)
{
    char value[32] = {};
    get_data_str(key, value, 31);
    *out = atoi(value);
    return 0;
}

int get_data_ll(const char* key, long long* out)
{
    char value[32] = {};
    get_data_str(key, value, 31);
    *out = strtoll(value, nullptr, 10);
    return 0;
}

int set_data_int(const char* key, int value)
{
    char cmd[128];
    if (!format_whole(cmd, sizeof cmd, "uci -q set %s=%d", key, value))
        return -1;
    system_rooted(cmd);
    return 0;
}

int set_data_ll(const char* key, long long value)
{
    char cmd[256];
    if (!format_whole(cmd, sizeof cmd, "uci -q set %s=%lld", key, value))
        return -1;
    system_rooted(cmd);
    return 0;
}

int set_data_str(const char* key, const char* text)
{
    char cmd[256];
    if (!format_whole(cmd, sizeof cmd, "uci -q set %s='%s'", key, text))
        return -1;
    system_rooted(cmd);
    return 0;
}

int set_option_int(const char* package, const char* section, const char* option, int value)
{
    char key[128];
    if (!format_whole(key, sizeof key, "%s.%s.%s", package, section, option))
        return -1;
    return set_data_int(key, value);
}

int set_option_ll(const char* package, const char* section, const char* option, long long value)
{
    char key[128];
    if (!format_whole(key, sizeof key, "%s.%s.%s", package, section, option))
        return -1;
    return set_data_ll(key, value);
}

int set_option_str(const char* package, const char* section, const char* option, const char* text)
{
    char key[128];
    if (!format_whole(key, sizeof key, "%s.%s.%s", package, section, option))
        return -1;
    return set_data_str(key, text);
}

int commit_config(const char* package)
{
    char cmd[64];
    if (!format_whole(cmd, sizeof cmd, "uci -q commit %s", package))
        return -1;
    return system_rooted(cmd);
}
