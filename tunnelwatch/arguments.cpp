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

ArgResult set_address(const char* value, sockaddr_in* address, bool* given, const char* refusal)
{
    if (inet_pton(AF_INET, value, &address->sin_addr) != 1) {
        syslog_error(refusal);
        return ArgResult::ExitPath;
    }
    *given = true;
    return ArgResult::Ok;
}

ArgResult set_remote(const char* value, WatchSettings* s)
{
    return set_address(value, &s->remote, &s->remote_set, "can't transform remote ip");
}

ArgResult set_local(const char* value, WatchSettings* s)
{
    return set_address(value, &s->local, &s->local_set, "can't transform local ip");
}

ArgResult set_seconds(const char* value, WatchSettings* s)
{
    s->seconds = to_number(value);
    return ArgResult::Ok;
}

ArgResult set_timeout(const char* value, WatchSettings* s)
{
    s->rcv_timeout = to_number(value);
    return ArgResult::Ok;
}

ArgResult set_dev(const char* value, WatchSettings* s)
{
    s->dev = value;
    return ArgResult::Ok;
}

ArgResult set_gname(const char* value, WatchSettings* s)
{
    s->gname = value;
    return ArgResult::Ok;
}

// A later "debug 0" does not turn it off again.
ArgResult set_debug(const char* value, WatchSettings* s)
{
    if (to_number(value) != 0)
        s->debug = true;
    return ArgResult::Ok;
}

ArgResult set_retry(const char* value, WatchSettings* s)
{
    s->retry = to_number(value);
    return ArgResult::Ok;
}

ArgResult write_pid(const char* value, WatchSettings*)
{
    if (!pidfile_write(value)) {
        syslog_error("Cannot create PID file.");
        return ArgResult::ExitNow;
    }
    return ArgResult::Ok;
}

ArgResult set_mode(const char* value, WatchSettings* s)
{
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
    return ArgResult::Ok;
}

struct ArgKey {
    const char* key;
    // Logged when the key is the last word; null: the key is then passed over.
    const char* usage;
    // Called with the next word; its refusals log their own line.
    ArgResult (*set)(const char* value, WatchSettings* s);
};

constexpr ArgKey ARG_KEYS[] = {
    {"remote", "not enough arguments: remote [ip]", set_remote},
    {"local", "not enough arguments: local [ip]", set_local},
    {"seconds", "not enough arguments: seconds [number]", set_seconds},
    {"timeout", "not enough arguments: timeout [number]", set_timeout},
    {"dev", "not enough arguments: dev [device name]", set_dev},
    {"gname", "not enough arguments: gname [GRE name]", set_gname},
    {"debug", "not enough arguments: debug [1 | 0]", set_debug},
    {"retry", nullptr, set_retry},
    {"pid", nullptr, write_pid},
    {"mode", "not enough arguments: mode [send | receive]", set_mode},
};

const ArgKey* find_key(const char* word)
{
    for (const ArgKey& k : ARG_KEYS)
        if (strcmp(word, k.key) == 0)
            return &k;
    return nullptr;
}

} // namespace

ArgResult parse_arguments(int argc, char** argv, WatchSettings* s)
{
    if (argc >= MAX_ARG_WORDS)
        return ArgResult::Ok;

    for (int i = 1; i < argc; ++i) {
        const ArgKey* key = find_key(argv[i]);
        if (!key)
            continue;
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value) {
            if (!key->usage)
                continue;
            syslog_error(key->usage);
            return ArgResult::ExitNow;
        }
        ArgResult result = key->set(value, s);
        if (result != ArgResult::Ok)
            return result;
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
