#include "outbox_files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "brenlow_state.h"
#include "log.h"
#include "own_file.h"
#include "paths.h"
#include "unique_fd.h"

constexpr char LOG_UNIT[] = "outbox_files.cpp";

namespace {

const char* kind_of(const struct stat& st)
{
    mode_t mode = st.st_mode;
    // A second name of a file kept elsewhere: reading it would read that file.
    if (S_ISREG(mode))
        return "hardlink";
    if (S_ISLNK(mode))
        return "symlink";
    if (S_ISFIFO(mode))
        return "fifo";
    if (S_ISDIR(mode))
        return "directory";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "device";
    if (S_ISSOCK(mode))
        return "socket";
    return "other";
}

bool taken(const char* rooted)
{
    struct stat st;
    return lstat(rooted, &st) == 0;
}

} // namespace

OutboxPath set_aside_unless_regular(const char* rooted)
{
    struct stat st;
    if (lstat(rooted, &st) != 0)
        return OutboxPath::Missing;
    if (S_ISREG(st.st_mode) && st.st_nlink <= 1)
        return OutboxPath::Regular;
    const char* kind = kind_of(st);
    auto ino = static_cast<unsigned long long>(st.st_ino);
    // Never over something already there: a directory could take the place
    // of an empty one, and the aside name may have been planted too.
    char aside[ROOTED_PATH_SIZE];
    snprintf(aside, sizeof aside, "%s.%s", rooted, kind);
    if (taken(aside))
        snprintf(aside, sizeof aside, "%s.%s.%llu", rooted, kind, ino);
    if (!taken(aside) && rename(rooted, aside) == 0) {
        LOG(LOG_WARNING, "Warning： %s is a %s, not a regular file: moved aside to %s", rooted, kind, aside);
        return OutboxPath::SetAside;
    }
    if (brenlow.outbox.stuck_ino != ino) {
        brenlow.outbox.stuck_ino = ino;
        LOG(LOG_ERROR, "Error： %s is a %s, not a regular file, and cannot be moved aside", rooted, kind);
    }
    return OutboxPath::Stuck;
}

int open_regular(const char* rooted, int flags, struct stat* st)
{
    UniqueFd fd(open_own(rooted, flags | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid() || fstat(fd.get(), st) != 0 || !S_ISREG(st->st_mode))
        return -1;
    return fd.release();
}

Writers batch_writers(int fd)
{
    // A writer opening the file in the instant the lease is held breaks it
    // with a signal; SIGIO would end the process, SIGURG is ignored.
    fcntl(fd, F_SETSIG, SIGURG);
    // A read lease is refused while any other open file has it for writing.
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        fcntl(fd, F_SETLEASE, F_UNLCK);
        return Writers::None;
    }
    return errno == EAGAIN ? Writers::Some : Writers::Unknown;
}
