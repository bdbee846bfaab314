#include "watch.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "capture.h"
#include "keepalive.h"
#include "status.h"
#include "syslog_log.h"
#include "watchdog.h"

namespace {

// How often a waiting thread looks at the ready flags.
constexpr useconds_t READY_POLL_US = 10000;

void* as_arg(intptr_t value) { return reinterpret_cast<void*>(value); }
int from_arg(void* arg) { return static_cast<int>(reinterpret_cast<intptr_t>(arg)); }

void start_thread(pthread_t* thread, void* (*body)(void*), void* arg)
{
    if (pthread_create(thread, nullptr, body, arg) != 0) {
        syslog_error("can't start a watch thread");
        cleanup_and_exit(1);
    }
}

// One keepalive of a cycle; true when it went out.
bool send_one_keepalive()
{
    uint8_t packet[KEEPALIVE_SIZE];
    build_keepalive(packet);
    unsigned sent = 0;
    if (nonblock_write(watch.send_socket, packet, sizeof packet, watch.settings.remote.sin_addr, &sent)) {
        if (watch.isup && watch.reply_got)
            debug_only("reply got. Restart counting...");
        if (watch.isup && watch.reply_got && watch.running) {
            watch.reply_got = 0;
            watch.try_count = 0;
        }
        return true;
    }
    syslog_notice("can't send keepalive packet");
    syslog_noticef("unable to send keepalive packet(sent size): %u", sent);
    return false;
}

// Whether the cycle sends the keepalive numbered try_count. After a stop the
// cycle ends once past send_attempts, so a large or negative retry cannot hold
// the process after SIGINT.
bool cycle_goes_on(unsigned retry)
{
    unsigned n = watch.try_count;
    return n <= retry && (watch.running || n <= watch.send_attempts);
}

const char* signal_name(int sig) { return sig == SIGTERM ? "SIGTERM" : "SIGINT"; }

} // namespace

void stop_handler(int sig)
{
    watch.stop_requested = 1;
    watch.stop_signal = sig;
    if (pcap_t* h = watch.reply_handle.load())
        pcap_breakloop(h);
    if (pcap_t* h = watch.request_handle.load())
        pcap_breakloop(h);
    watch.running = 0;
    watch.try_count = watch.send_attempts;
}

void* handle_send(void* arg)
{
    while (!watch.requests_ready && !watch.reply_ready && watch.running)
        usleep(READY_POLL_US);
    int pause = from_arg(arg);
    if (pause < 0)
        pause = 0;
    const unsigned retry = static_cast<unsigned>(watch.settings.retry);

    while (watch.running) {
        watch.try_count = 1;
        bool last_sent = false;
        while (cycle_goes_on(retry)) {
            if (watch.settings.debug)
                syslog_debugf("(handle_send) try #%d,isup=%d\n", static_cast<int>(watch.try_count.load()),
                              watch.isup.load());
            last_sent = send_one_keepalive();
            sleep(static_cast<unsigned>(pause));
            ++watch.try_count;
        }
        // The answer to the cycle's last keepalive arrives after the count
        // was checked; it still proves the tunnel, so it restarts the count
        // instead of letting a freshly restored tunnel flap down and up.
        // Only a keepalive that went out can have such an answer: when the
        // last one failed, reply_got is left from before the failures (a sent
        // keepalive consumes it), and honouring it would cost a whole second
        // cycle of retries on a dead link.
        if (last_sent && watch.isup && watch.reply_got && watch.running) {
            debug_only("reply got. Restart counting...");
            watch.reply_got = 0;
            continue;
        }
        if (watch.isup) {
            // A stop ends the cycle early: the tunnel goes down with the watch,
            // not because the remote stopped answering.
            if (watch.running)
                syslog_error("(handle_send) remote is unreachable.");
            else
                syslog_noticef("(handle_send) stopped by %s, tunnel set down", signal_name(watch.stop_signal));
            watch.isup = 0;
            run_state_script("down");
        }
        // Without keepalives (retry 0) the cycles would spin: pace them.
        if (retry == 0 && watch.running)
            sleep(pause > 0 ? static_cast<unsigned>(pause) : 1);
    }
    watch.isup = 0;
    syslog_notice("tunnel is down");
    debug_only("(handle_send) exited function.");
    watch.reply_got = 0;
    return nullptr;
}

void* handle_timeout(void* arg)
{
    const int period = from_arg(arg);
    syslog_debug("enter function handle_timeout");
    // A stop before the request capture is ready ends this thread too.
    while (!watch.requests_ready && watch.running)
        usleep(READY_POLL_US);
    if (!watch.running)
        return nullptr;
    if (period <= 0) {
        syslog_error("no rcv_timeout configed");
        return nullptr;
    }
    syslog_debugf("handle_timeout(%d)", period);
    while (watch.running) {
        sleep(static_cast<unsigned>(period));
        if (watch.request_got) {
            watch.request_got = 0;
            debug_only("request got. Restart counting...");
            if (watch.isup == 0) {
                syslog_debug("(handle_timeout) got keepalive request.");
                run_state_script("up");
            }
            watch.isup = 1;
        } else if (watch.isup) {
            watch.isup = 0;
            debug_only("request not got. set tunnel to down...");
            syslog_debug("(handle_timeout) NOT get keepalive request.");
            run_state_script("down");
        }
    }
    debug_only("(handle_timeout) exited function.");
    return nullptr;
}

void start_watch(int retry, int seconds, const char* dev, int mode, int rcv_timeout)
{
    watch.send_attempts = SEND_ATTEMPTS;
    watch.settings.retry = retry;
    watch.settings.seconds = seconds;
    watch.isup = 1;
    watch.requests_ready = 0;
    watch.reply_ready = 0;

    open_raw_sockets();

    // SIGTERM stops the watch as SIGINT does: procd stops and reloads
    // services with it, and the registry line and closing line must follow.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = stop_handler;
    stop_signals(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // The stop signals are taken by the main thread alone: a worker's sleep is
    // never cut short by them, and the handler never runs inside a capture callback.
    sigset_t stop_set;
    stop_signals(&stop_set);
    pthread_sigmask(SIG_BLOCK, &stop_set, nullptr);

    pthread_t threads[3];
    int count = 0;
    watch.threads_running = 1;
    start_thread(&threads[count++], handle_requests, const_cast<char*>(dev));
    if (mode == MODE_RECEIVE) {
        start_thread(&threads[count++], handle_timeout, as_arg(rcv_timeout));
    } else {
        start_thread(&threads[count++], handle_reply, nullptr);
        start_thread(&threads[count++], handle_send, as_arg(seconds));
    }
    pthread_sigmask(SIG_UNBLOCK, &stop_set, nullptr);

    join_publishing_status(threads, count);
    watch.threads_running = 0;
    if (watch.stop_signal)
        syslog_noticef("stopped by %s", signal_name(watch.stop_signal));
}
