#include "own_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "unique_fd.h"

int open_own(const char* rooted, int flags, mode_t mode)
{
    // O_NONBLOCK: a FIFO planted at the path must not hold the daemon in
    // open(); anything but a regular file is refused once it is open.
    UniqueFd fd(open(rooted, flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode));
    if (!fd.valid())
        return -1;
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    if (!(flags & O_NONBLOCK))
        fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd.release();
}

FILE* fopen_own(const char* rooted, const char* mode)
{
    int flags;
    bool plus = mode[0] && mode[1] == '+';
    switch (mode[0]) {
    case 'r':
        flags = plus ? O_RDWR : O_RDONLY;
        break;
    case 'w':
        flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
        break;
    case 'a':
        flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    UniqueFd fd(open_own(rooted, flags));
    if (!fd.valid())
        return nullptr;
    FILE* f = fdopen(fd.get(), mode);
    if (f)
        fd.release();
    return f;
}

FILE* create_temp_own(const char* rooted_temp)
{
    // unlink removes a planted link itself, never its target; O_EXCL then
    // refuses anything another program slips in between.
    unlink(rooted_temp);
    UniqueFd fd(open_own(rooted_temp, O_WRONLY | O_CREAT | O_EXCL, 0644));
    if (!fd.valid())
        return nullptr;
    FILE* f = fdopen(fd.get(), "w");
    if (f)
        fd.release();
    return f;
}

int replace_own_file(const char* rooted, const char* rooted_temp, const void* data, size_t len)
{
    FILE* f = create_temp_own(rooted_temp);
    if (!f)
        return -1;
    bool ok = fwrite(data, 1, len, f) == len;
    ok = fclose(f) == 0 && ok;
    // rename replaces a link at the target itself, not what it points to.
    if (ok && rename(rooted_temp, rooted) == 0)
        return 0;
    unlink(rooted_temp);
    return -1;
}
