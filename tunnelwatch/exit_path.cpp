#include <pcap/pcap.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "registry.h"
#include "syslog_log.h"
#include "watchdog.h"

namespace {

void close_socket(std::atomic<int>* slot)
{
    int sock = slot->exchange(-1);
    if (sock < 0)
        return;
    shutdown(sock, SHUT_RDWR);
    close(sock);
}

void close_capture(std::atomic<pcap_t*>* slot, bool loops_may_run)
{
    pcap_t* handle = slot->exchange(nullptr);
    if (!handle)
        return;
    // A fatal error in one thread must not free a handle another thread's
    // capture loop still reads: the kernel releases it at exit instead.
    if (loops_may_run)
        pcap_breakloop(handle);
    else
        pcap_close(handle);
}

} // namespace

void stop_signals(sigset_t* set)
{
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
}

void cleanup_and_exit(int status)
{
    // Two threads failing at once: the first one out does the exit, the other waits for it.
    static std::atomic<int> exiting{0};
    if (exiting.exchange(1))
        for (;;)
            pause();

    // No stop handler may reach a handle while it is being closed.
    sigset_t stop_set;
    stop_signals(&stop_set);
    pthread_sigmask(SIG_BLOCK, &stop_set, nullptr);

    if (watch.settings.dev)
        registry_remove(watch.settings.dev);
    close_socket(&watch.send_socket);
    close_socket(&watch.request_socket);
    const bool loops_may_run = watch.threads_running != 0;
    close_capture(&watch.reply_handle, loops_may_run);
    close_capture(&watch.request_handle, loops_may_run);
    syslog_finish();
    exit(status);
}
