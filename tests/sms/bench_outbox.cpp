// Benchmark, not a test: drains a spool of LINES lines (default 10,000)
// through the outbox to a modem that takes every message at once, and
// prints the time, the CPU and the peak memory it took. The 1-s pause
// between two messages, the modem's pace, is left out.
// Usage: bench_outbox [LINES [DIR]]: the router root is made in DIR (default
// /tmp); /dev/shm is a RAM file system like the router's /tmp.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "brenlow_state.h"
#include "fake_manager.h"
#include "sms_outbox.h"

namespace {

double seconds(const timeval& t)
{
    return t.tv_sec + t.tv_usec / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    int lines = argc > 1 ? atoi(argv[1]) : 10000;
    std::string root = std::string(argc > 2 ? argv[2] : "/tmp") + "/outboxbench.XXXXXX";
    if (!mkdtemp(&root[0]))
        return 1;
    setenv("ROUTER_ROOT", root.c_str(), 1);
    if (system(("mkdir -p " + root + "/tmp " + root + "/etc/config").c_str()) != 0)
        return 1;
    FILE* spool = fopen((root + "/tmp/sms_tosend").c_str(), "w");
    for (int i = 0; spool && i < lines; ++i)
        fprintf(spool, "139%08d,bench message number %d of the batch\n", i, i);
    if (!spool || fclose(spool) != 0)
        return 1;
    fake_keep_tried = false;
    // Settings as loaded: unicode off, retries for a day.
    brenlow.config_loaded = true;
    brenlow.config.retrytime = 86400;
    // The lines the outbox echoes, as brenlow's do under procd.
    if (!freopen("/dev/null", "w", stdout))
        return 1;
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int passes = 0;
    do {
        sendmessage();
        ++passes;
    } while (access((root + "/tmp/sms_sending").c_str(), F_OK) == 0 && passes < lines + 10);
    clock_gettime(CLOCK_MONOTONIC, &end);
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    fprintf(stderr, "%d lines: %ld sent in %.2f s, CPU user %.2f s system %.2f s, peak RSS %ld kB\n", lines,
            fake_sends, end.tv_sec - start.tv_sec + (end.tv_nsec - start.tv_nsec) / 1e9, seconds(usage.ru_utime),
            seconds(usage.ru_stime), usage.ru_maxrss);
    return system(("rm -rf " + root).c_str()) == 0 && fake_sends == lines ? 0 : 1;
}
