#include "watchdog.h"

#include <cstring>

WatchState watch;

void watch_state_reset()
{
    WatchSettings& s = watch.settings;
    memset(&s, 0, sizeof s);
    s.remote.sin_family = AF_INET;
    s.local.sin_family = AF_INET;
    s.seconds = 5;
    s.rcv_timeout = 0;
    s.mode = MODE_UNSET;
    s.retry = 5;

    watch.send_socket = -1;
    watch.request_socket = -1;
    watch.send_attempts = SEND_ATTEMPTS;
    watch.send_fn = ::sendto;
    watch.request_handle = nullptr;
    watch.reply_handle = nullptr;
    watch.running = 1;
    watch.stop_requested = 0;
    watch.try_count = 1;
    watch.isup = 1;
    watch.reply_got = 0;
    watch.request_got = 0;
    watch.requests_ready = 0;
    watch.reply_ready = 0;
    watch.threads_running = 0;
    watch.state_since = 0;
    watch.last_reply = 0;
    watch.last_request = 0;
}
