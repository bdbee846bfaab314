#include "uci_access.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "shell.h"
#include "text.h"

namespace {

// Commands and keys longer than their fixed buffer run cut, as callers expect.
__attribute__((format(printf, 3, 4))) void format_cut(char* buf, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(buf, size, format, args);
    va_end(args);
}

} // namespace

void get_data_str(const char* key, char* buf, int size)
{
    char cmd[64];
    format_cut(cmd, sizeof cmd, "uci get %s", key);
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
    format_cut(cmd, sizeof cmd, "uci -q set %s=%d", key, value);
    system_rooted(cmd);
    return 0;
}

int set_data_ll(const char* key, long long value)
{
    char cmd[256];
    format_cut(cmd, sizeof cmd, "uci -q set %s=%lld", key, value);
    system_rooted(cmd);
    return 0;
}

int set_data_str(const char* key, const char* text)
{
    char cmd[256];
    format_cut(cmd, sizeof cmd, "uci -q set %s='%s'", key, text);
    system_rooted(cmd);
    return 0;
}

int set_option_int(const char* package, const char* section, const char* option, int value)
{
    char key[128];
    format_cut(key, sizeof key, "%s.%s.%s", package, section, option);
    return set_data_int(key, value);
}

int set_option_ll(const char* package, const char* section, const char* option, long long value)
{
    char key[128];
    format_cut(key, sizeof key, "%s.%s.%s", package, section, option);
    return set_data_ll(key, value);
}

int set_option_str(const char* package, const char* section, const char* option, const char* text)
{
    char key[128];
    format_cut(key, sizeof key, "%s.%s.%s", package, section, option);
    return set_data_str(key, text);
}

int commit_config(const char* package)
{
    char cmd[64];
    format_cut(cmd, sizeof cmd, "uci -q commit %s", package);
    return system_rooted(cmd);
}
