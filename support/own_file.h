// Files a daemon creates at fixed paths in places every program on the router
// shares (/tmp, /var/run, /etc/config). The daemons run as root, so none of
// these is ever opened through a link another program planted there.
#pragma once

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

// open() of an already rooted path with O_NOFOLLOW and O_CLOEXEC added:
// a symlink at the path fails with ELOOP instead of being followed, and
// anything but a regular file (a FIFO, a directory, a device) fails with
// EINVAL without blocking.
int open_own(const char* rooted, int flags, mode_t mode = 0644);

// fopen() through open_own; mode is one of "r", "r+", "w", "w+", "a", "a+".
FILE* fopen_own(const char* rooted, const char* mode);

// A temporary file made anew for writing: whatever stands at the path (a
// left-over, a planted link) is removed, then the file is created exclusively.
// Rename it over its target once it is complete.
FILE* create_temp_own(const char* rooted_temp);

// Writes len bytes as the whole new content of rooted: through rooted_temp,
// made by create_temp_own, then a rename, so a reader sees the old or the new
// content and never a link's target. Returns 0, or -1 (the target unchanged).
int replace_own_file(const char* rooted, const char* rooted_temp, const void* data, size_t len);
