#include "port_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "monotonic.h"

namespace {

void remember_node(PortWatch* watch, int fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0) {
        watch->dev = st.st_dev;
        watch->ino = st.st_ino;
    }
}

} // namespace

void port_watch_start(PortWatch* watch, const char* path, int fd)
{
    memset(watch, 0, sizeof *watch);
    snprintf(watch->path, sizeof watch->path, "%s", path);
    remember_node(watch, fd);
    watch->checked_ms = monotonic_ms();
}

const char* port_gone(PortWatch* watch, int fd, int err)
{
    if (fd < 0)
        return "not open";
    // A tty that hung up or vanished answers reads and writes with these.
    if (err == EIO || err == ENXIO || err == ENODEV || err == EBADF)
        return strerror(err);
    pollfd line = {fd, 0, 0};
    if (poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return "hung up";
    long long now = monotonic_ms();
    if (now - watch->checked_ms < PORT_RETRY_MS)
        return nullptr;
    watch->checked_ms = now;
    struct stat st;
    if (stat(watch->path, &st) != 0)
        return errno == ENOENT ? "device node gone" : nullptr;
    if (st.st_dev != watch->dev || st.st_ino != watch->ino)
        return "device node replaced";
    return nullptr;
}

void port_lost(PortWatch* watch, int* fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
    watch->lost_ms = monotonic_ms();
    watch->tried_ms = 0;
}

int port_reopen(PortWatch* watch, bool (*setup)(int fd))
{
    long long now = monotonic_ms();
    if (watch->tried_ms != 0 && now - watch->tried_ms < PORT_RETRY_MS)
        return -1;
    watch->tried_ms = now;
    // Not blocking on the open (no carrier wait), blocking afterwards, as at start.
    int fd = open(watch->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (fcntl(fd, F_SETFL, 0) < 0 || !setup(fd)) {
        close(fd);
        return -1;
    }
    remember_node(watch, fd);
    watch->checked_ms = now;
    return fd;
}

long port_outage_s(const PortWatch& watch)
{
    return static_cast<long>((monotonic_ms() - watch.lost_ms) / 1000);
}
