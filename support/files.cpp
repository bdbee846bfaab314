#include "files.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "own_file.h"
#include "paths.h"

namespace {

int write_file_mode(const char* path, const char* text, const char* mode)
{
    FILE* f = fopen_own(RootedPath(path).c_str(), mode);
    if (!f)
        return -1;
    fputs(text, f);
    return fclose(f);
}

} // namespace

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

bool write_all(int fd, const char* data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}
