#include "paths.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* router_root()
{
    const char* root = getenv("ROUTER_ROOT");
    return root ? root : "";
}

int router_path(char* out, size_t size, const char* path)
{
    const char* root = path[0] == '/' ? router_root() : "";
    int n = snprintf(out, size, "%s%s", root, path);
    return n < 0 || static_cast<size_t>(n) >= size ? -1 : 0;
}

RootedPath::RootedPath(const char* path)
{
    router_path(buf_, sizeof buf_, path);
}

RootedPath RootedPath::format(const char* pattern, ...)
{
    char path[ROOTED_PATH_SIZE];
    va_list args;
    va_start(args, pattern);
    vsnprintf(path, sizeof path, pattern, args);
    va_end(args);
    return RootedPath(path);
}
