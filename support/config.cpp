#include "config.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

#include "paths.h"
#include "unique_fd.h"

namespace {

// Commands and keys longer than their fixed buffer run cut, as callers expect.
__attribute__((format(printf, 3, 4))) void format_cut(char* buf, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(buf, size, format, args);
    va_end(args);
}

// popen with the command's leading absolute path resolved into the sandbox.
FILE* open_command(const char* cmd)
{
    char rooted[ROOTED_PATH_SIZE];
    router_path(rooted, sizeof rooted, cmd);
    return popen(rooted, "r");
}

int system_rooted(const char* cmd)
{
    char rooted[ROOTED_PATH_SIZE];
    router_path(rooted, sizeof rooted, cmd);
    return system(rooted);
}

int write_file_mode(const char* path, const char* text, const char* mode)
{
    FILE* f = fopen(RootedPath(path).c_str(), mode);
    if (!f)
        return -1;
    fputs(text, f);
    return fclose(f);
}

int format_now(char* buf, size_t size, const char* layout)
{
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    strftime(buf, size, layout, &t);
    return 0;
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

int run_cmd_line(const char* cmd, char* buf, int size)
{
    FILE* pipe = open_command(cmd);
    if (!pipe)
        return -1;
    if (fgets(buf, size, pipe))
        trim_newline(buf, size);
    return pclose(pipe);
}

int run_cmd(const char* cmd)
{
    FILE* pipe = open_command(cmd);
    if (!pipe)
        return -1;
    return pclose(pipe);
}

void trim_newline(char* buf, int size)
{
    if (!buf)
        return;
    for (int i = 0; i < size; ++i) {
        if (buf[i] == '\n') {
            buf[i] = '\0';
            return;
        }
        if (buf[i] == '\0')
            return;
    }
}

int check_ipv4(const char* text)
{
    int a, b, c, d;
    if (sscanf(text, "%d.%d.%d.%d ", &a, &b, &c, &d) < 4)
        return -1;
    for (int octet : {a, b, c, d})
        if (octet < 0 || octet > 255)
            return -1;
    char canonical[16];
    snprintf(canonical, sizeof canonical, "%d.%d.%d.%d", a, b, c, d);
    return strcmp(canonical, text) == 0 ? 0 : -1;
}

int read_dio(int n)
{
    UniqueFd fd(open(RootedPath::format("/sys/class/gpio/dio%d/value", n).c_str(), O_RDONLY));
    if (!fd.valid())
        return 0;
    char value[32] = {};
    if (read(fd.get(), value, 31) < 0)
        return 0;
    return atoi(value);
}

int hex_digit_value(char c)
{
    if (c >= '1' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

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

int append_text_file(const char* path, const char* text)
{
    return write_file_mode(path, text, "a");
}

int write_text_file(const char* path, const char* text)
{
    return write_file_mode(path, text, "w");
}

int remove_file(const char* path)
{
    return remove(RootedPath(path).c_str());
}

bool path_exists(const char* path)
{
    return access(RootedPath(path).c_str(), F_OK) == 0;
}
