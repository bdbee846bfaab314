#include "pty_pair.h"

#include <poll.h>
#include <time.h>

std::string PtyPair::read_master(size_t want, int timeout_ms) const
{
    std::string out;
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (out.size() >= want || elapsed >= timeout_ms)
            return out;
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout_ms - elapsed)) <= 0)
            continue;
        char buf[4096];
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
    }
}
