#include "arguments.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pidfile.h"
#include "syslog_log.h"

namespace {

int to_number(const char* text) { return static_cast<int>(strtol(text, nullptr, 10)); }

} // namespace

ArgResult parse_arguments(int argc, char** argv, WatchSettings* s)
{
    if (argc >= MAX_ARG_WORDS)
        return ArgResult::Ok;

    for (int i = 1; i < argc; ++i) {
        const char* key = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(key, "remote") == 0) {
            if (!value) {
                syslog_error("not enough arguments: remote [ip]");
                return ArgResult::ExitNow;
            }
            if (inet_pton(AF_INET, value, &s->remote.sin_addr) != 1) {
                syslog_error("can't transform remote ip");
                return ArgResult::ExitPath;
            }
            s->remote_set = true;
        } else if (strcmp(key, "local") == 0) {
            if (!value) {
                syslog_error("not enough arguments: local [ip]");
                return ArgResult::ExitNow;
            }
            if (inet_pton(AF_INET, value, &s->local.sin_addr) != 1) {
                syslog_error("can't transform local ip");
                return ArgResult::ExitPath;
            }
            s->local_set = true;
        } else if (strcmp(key, "seconds") == 0) {
            if (!value) {
                syslog_error("not enough arguments: seconds [number]");
                return ArgResult::ExitNow;
            }
            s->seconds = to_number(value);
        } else if (strcmp(key, "timeout") == 0) {
            if (!value) {
                syslog_error("not enough arguments: timeout [number]");
                return ArgResult::ExitNow;
            }
            s->rcv_timeout = to_number(value);
        } else if (strcmp(key, "dev") == 0) {
            if (!value) {
                syslog_error("not enough arguments: dev [device name]");
                return ArgResult::ExitNow;
            }
            s->dev = value;
        } else if (strcmp(key, "gname") == 0) {
            if (!value) {
                syslog_error("not enough arguments: gname [GRE name]");
                return ArgResult::ExitNow;
            }
            s->gname = value;
        } else if (strcmp(key, "debug") == 0) {
            if (!value) {
                syslog_error("not enough arguments: debug [1 | 0]");
                return ArgResult::ExitNow;
            }
            if (to_number(value) != 0)
                s->debug = true;
        } else if (strcmp(key, "retry") == 0) {
            if (value)
                s->retry = to_number(value);
        } else if (strcmp(key, "pid") == 0) {
            if (value && !pidfile_write(value)) {
                syslog_error("Cannot create PID file.");
                return ArgResult::ExitNow;
            }
        } else if (strcmp(key, "mode") == 0) {
            if (!value) {
                syslog_error("not enough arguments: mode [send | receive]");
                return ArgResult::ExitNow;
            }
            if (strcmp(value, "send") == 0) {
                s->mode = MODE_SEND;
                syslog_notice("mode is set to GRE SEND");
            } else if (strcmp(value, "receive") == 0) {
                s->mode = MODE_RECEIVE;
                syslog_notice("mode is set to GRE RECEIVE");
            } else {
                syslog_error("bad mode arguments, must be either send or receive");
                return ArgResult::ExitNow;
            }
        }
    }
    return ArgResult::Ok;
}

bool settings_complete(const WatchSettings& s)
{
    if (s.local_set && s.remote_set && s.dev && s.mode != MODE_UNSET && s.gname)
        return true;
    if (!s.local_set)
        syslog_error("local ip not set");
    else if (!s.remote_set)
        syslog_error("remote ip not set");
    else if (!s.dev)
        syslog_error("device not set");
    else if (s.mode == MODE_UNSET)
        syslog_error("mode not set");
    syslog_error("Failed to start the program. Need more arguments");
    return false;
}
