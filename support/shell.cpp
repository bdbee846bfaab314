#include "shell.h"

#include <cstdlib>

#include "paths.h"
#include "text.h"

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
