#include "pidfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "own_file.h"

bool pidfile_owner_alive(const char* path)
{
    FILE* f = fopen(path, "r");
    if (!f)
        return false;
    char text[32] = {};
    bool got = fgets(text, sizeof text, f) != nullptr;
    fclose(f);
    if (!got)
        return false;
    char* end = nullptr;
    long pid = strtol(text, &end, 10);
    if (end == text || pid <= 0 || pid == getpid())
        return false;
    // EPERM still means the process exists, only under another user.
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool pidfile_write(const char* path)
{
    FILE* f = fopen_own(path, "w");
    if (!f)
        return false;
    fprintf(f, "%u\n", static_cast<unsigned>(getpid()));
    fclose(f);
    return true;
}

PidClaim pidfile_claim(const char* path)
{
    if (pidfile_owner_alive(path))
        return PidClaim::AlreadyRunning;
    return pidfile_write(path) ? PidClaim::Created : PidClaim::CreateFailed;
}
