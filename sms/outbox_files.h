// The outbox's files in /tmp, a folder every program on the router shares
// while brenlow runs as root: only regular files are ever opened there, never
// through a link, and never in a way that blocks.
#pragma once

#include <sys/stat.h>

enum class OutboxPath {
    Missing,  // nothing at the path
    Regular,  // a regular file: safe to open with open_regular
    SetAside, // something else was there and has been moved aside
    Stuck,    // something else is there and could not be moved
};

// A symlink, FIFO, directory, device, socket or second name of a file (hard
// link) at rooted is renamed to "<rooted>.<kind>" (or "<rooted>.<kind>.<inode>"
// when that name is taken), never opened, and logged once with what it was.
OutboxPath set_aside_unless_regular(const char* rooted);

// open() with flags (O_RDONLY, or O_RDWR or O_WRONLY with O_CREAT and
// O_APPEND as wanted) that never follows a link, blocks on a FIFO or takes a
// terminal; fills *st. -1 when it is missing or not a regular file.
int open_regular(const char* rooted, int flags, struct stat* st);

enum class Writers {
    None,    // no other process has the file open for writing
    Some,    // another process holds it open for writing and may still append
    Unknown, // the kernel would not say (file leases switched off)
};
// Asks the kernel, through a read lease taken and given back at once, whether
// a writer that opened the spool before it became the batch still holds it.
Writers batch_writers(int fd);
