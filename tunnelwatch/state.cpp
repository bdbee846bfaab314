#include "watchdog.h"

#include <cstring>
#include <initializer_list>

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
    watch.stop_signal = 0;
    for (LineLimit* notice : {&watch.lines.request_forged, &watch.lines.reply_unsent, &watch.lines.send_failed})
        line_limit_reset(notice, PACKET_NOTICE_PERIOD_MS);
    for (LineLimit* trace : {&watch.lines.request_approved, &watch.lines.reply_approved, &watch.lines.sending,
                             &watch.lines.sent})
        line_limit_reset(trace, PACKET_TRACE_PERIOD_MS);
    watch.state_since = 0;
    watch.last_reply = 0;
    watch.last_request = 0;
}
