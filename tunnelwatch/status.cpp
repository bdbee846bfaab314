#include "status.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "status_file.h"
#include "watchdog.h"

namespace {

// Path of the file: the tunnel name with anything but [A-Za-z0-9_.-] made
// '_', so a name never reaches another folder.
constexpr int NAME_SIZE = 64;
char status_path[sizeof "/var/run/tolvane-.status" + NAME_SIZE];
// A stop is seen within this, while the status is looked at once a second.
constexpr useconds_t JOIN_POLL_US = 100000;

StatusFile tunnel_status(status_path);

void name_path()
{
    const WatchSettings& s = watch.settings;
    const char* name = s.gname ? s.gname : s.dev ? s.dev : "";
    char safe[NAME_SIZE] = {};
    for (int i = 0; name[i] && i < NAME_SIZE - 1; ++i) {
        char c = name[i];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                     c == '-' || (c == '.' && i > 0);
        safe[i] = plain ? c : '_';
    }
    snprintf(status_path, sizeof status_path, "/var/run/tolvane-%s.status", safe);
}

void publish()
{
    if (!status_begin(tunnel_status))
        return;
    const WatchSettings& s = watch.settings;
    char remote[INET_ADDRSTRLEN] = {};
    char local[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &s.remote.sin_addr, remote, sizeof remote);
    inet_ntop(AF_INET, &s.local.sin_addr, local, sizeof local);
    status_add(tunnel_status, "gname", "%s", s.gname ? s.gname : "");
    status_add(tunnel_status, "dev", "%s", s.dev ? s.dev : "");
    status_add(tunnel_status, "remote", "%s", remote);
    status_add(tunnel_status, "local", "%s", local);
    status_add(tunnel_status, "mode", "%s", s.mode == MODE_RECEIVE ? "receive" : "send");
    status_add(tunnel_status, "state", "%s", watch.isup ? "up" : "down");
    status_add(tunnel_status, "since", "%u", watch.state_since.load());
    status_add(tunnel_status, "last_reply", "%u", watch.last_reply.load());
    status_add(tunnel_status, "last_request", "%u", watch.last_request.load());
    status_publish(tunnel_status);
}

} // namespace

void join_publishing_status(pthread_t* threads, int count)
{
    name_path();
    // The watch starts with the tunnel taken as up.
    if (watch.state_since == 0)
        watch.state_since = static_cast<unsigned>(time(nullptr));
    constexpr int THREADS_MAX = 8;
    bool joined[THREADS_MAX] = {};
    if (count > THREADS_MAX)
        count = THREADS_MAX;
    int left = count;
    while (left > 0) {
        publish();
        for (int i = 0; i < count; ++i) {
            if (!joined[i] && pthread_tryjoin_np(threads[i], nullptr) == 0) {
                joined[i] = true;
                --left;
            }
        }
        if (left > 0)
            usleep(JOIN_POLL_US);
    }
}
