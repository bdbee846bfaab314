// tolvane: watches one GRE tunnel with keepalives and runs the platform's
// up/down script on every change of its state.
#include <syslog.h>

#include <cstdlib>

#include "arguments.h"
#include "syslog_log.h"
#include "watch.h"
#include "watchdog.h"

int main(int argc, char** argv)
{
    watch_state_reset();
    syslog_start();
    syslog(LOG_NOTICE, "(notice) GRE KEEPALIVE program started");

    switch (parse_arguments(argc, argv, &watch.settings)) {
    case ArgResult::ExitNow:
        exit(1);
    case ArgResult::ExitPath:
        cleanup_and_exit(1);
    case ArgResult::Ok:
        break;
    }

    const WatchSettings& s = watch.settings;
    if (settings_complete(s))
        start_watch(s.retry, s.seconds, s.dev, s.mode, s.rcv_timeout);
    cleanup_and_exit(0);
}
