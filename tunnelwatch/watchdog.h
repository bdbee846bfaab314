// Process-wide state of the tunnel watchdog: its settings, its sockets and
// the flags shared by the watch threads.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>

#include "syslog_log.h"

typedef struct pcap pcap_t;

// Length of a keepalive packet: outer IPv4 + GRE, inner IPv4 + GRE.
constexpr size_t KEEPALIVE_SIZE = 48;
// Length of the answer the peer returns: the keepalive's inner packet.
constexpr size_t KEEPALIVE_REPLY_SIZE = 24;
// Retries of one send on a busy socket.
constexpr unsigned SEND_ATTEMPTS = 5;
// Command line words, program name included, from which nothing is examined.
constexpr int MAX_ARG_WORDS = 20;
// Buffer of the up/down command: 127 characters and the terminator.
constexpr size_t SCRIPT_CMD_SIZE = 128;
// Buffer of one formatted log text.
constexpr size_t LOG_TEXT_SIZE = 256;

enum WatchMode { MODE_UNSET = -1, MODE_SEND = 0, MODE_RECEIVE = 1 };

// Filled from the command line at start, read-only once the watch runs.
struct WatchSettings {
    sockaddr_in remote;
    sockaddr_in local;
    bool remote_set;
    bool local_set;
    int seconds;
    int rcv_timeout;
    const char* dev;   // the command line word itself
    const char* gname; // the command line word itself
    bool debug;
    int mode;
    int retry;
};

// The sendto seam: tests count attempts and inject busy sockets through it.
using SendToFn = ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t);

struct WatchState {
    WatchSettings settings;

    // Atomic because a fatal exit in one thread closes them while another sends.
    std::atomic<int> send_socket;
    std::atomic<int> request_socket;
    unsigned send_attempts;
    SendToFn send_fn;

    // The stop handler breaks the capture loops through these.
    std::atomic<pcap_t*> request_handle;
    std::atomic<pcap_t*> reply_handle;

    std::atomic<int> running;
    // Set first thing in the stop handler, before it reads the handles.
    std::atomic<int> stop_requested;
    std::atomic<unsigned> try_count;
    std::atomic<int> isup;
    std::atomic<int> reply_got;
    std::atomic<int> request_got;
    std::atomic<int> requests_ready;
    std::atomic<int> reply_ready;

    // Set while watch threads run: the exit path then leaves the capture
    // handles to the kernel instead of freeing them under a running loop.
    std::atomic<int> threads_running;
    // The signal that stopped the watch; 0 while none did.
    std::atomic<int> stop_signal;

    // One limit per kind of line a received packet can cause.
    struct {
        LineLimit request_forged;   // a request whose outer source is not the remote
        LineLimit reply_unsent;     // a request that could not be answered
        LineLimit send_failed;      // a packet the socket refused
        LineLimit request_approved; // debug traces
        LineLimit reply_approved;
        LineLimit sending;
        LineLimit sent;
    } lines;

    // For the status file: the last change of the state (its script run) and
    // the last keepalive answered by the peer and received from it, in
    // seconds since the epoch. 32 bits (good until 2106): a 64-bit atomic
    // would need libatomic on the 32-bit router.
    std::atomic<unsigned> state_since;
    std::atomic<unsigned> last_reply;
    std::atomic<unsigned> last_request;
};

extern WatchState watch;

// Puts settings and state back to their start values (process start, tests).
void watch_state_reset();

// The one exit of the watchdog after start: registry line, sockets, capture
// handles, closing log line, then exit(status).
[[noreturn]] void cleanup_and_exit(int status);
// The signals that stop the watch (SIGINT, SIGTERM), for blocking them.
void stop_signals(sigset_t* set);
