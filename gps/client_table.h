// The network client entries shared by the UDP and TCP clients.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "client_link.h"

// Entries addressed by index 0..63.
constexpr int MAX_CONNECTIONS = 64;
static_assert(MAX_CONNECTIONS <= (1 << THREAD_ARG_INDEX_BITS), "every index fits the thread argument");
// Host name or address text of the server, terminator included.
constexpr int CLIENT_HOST_SIZE = 128;
// One receive of a client thread (the terminator comes on top).
constexpr int CLIENT_RECV_SIZE = 40960;

using ClientReceiveFn = void (*)(int index, const char* data, int length);

// The server of an entry as one attempt saw it when it started: an attempt
// works on its own copy, so a restart may rewrite the entry under it.
struct ClientTarget {
    char host[CLIENT_HOST_SIZE];
    char ip[CLIENT_HOST_SIZE];
    int port;
    ClientReceiveFn on_receive;
};

// What an attempt's thread holds from its start to its end.
struct ClientAttempt {
    int index;
    uint32_t generation;
    ClientTarget target;
};

// Ownership: `link` and the two counters are the only fields shared without
// a rule of their own. The main thread (the caller of the Start, Send, Close
// and Reconnect functions) alone writes target and thread, in client_reset
// and client_spawn; attempt threads copy target once, in client_attempt_begin,
// whose `readers` count client_reset waits out. resolved is written by the
// UDP attempt through client_store_resolved, first before it links CONNECTED
// and again whenever a later lookup changes it; it is one atomic word, so the
// main thread reads either the old address or the new one.
struct ClientConnection {
    ClientTarget target;
    std::atomic<ClientLink> link;
    pthread_t thread;
    ClientReceiveFn on_receive;
    // Threads inside a send or shutdown on the linked socket; its owner thread
    // closes the descriptor only once this is back to 0.
    std::atomic<int> users;
    // Attempts inside client_attempt_begin's copy or client_store_resolved.
    std::atomic<int> readers;
    // IPv4 address (network order) the UDP thread resolved from host; 0 none.
    std::atomic<uint32_t> resolved;
    // Set by a sender whose datagram failed: the UDP thread looks the host up
    // again, as the server may have moved.
    std::atomic<bool> lookup_wanted;
};

extern ClientConnection client_table[MAX_CONNECTIONS];

int client_state(int index);
int client_socket(int index);

// Resets an entry for a new server; index must be in range. Older attempts
// are unlinked first and waited out while they copy the old server.
void client_reset(int index, const char* host, const char* ip, int port, ClientReceiveFn on_receive);
// The start of every attempt thread: unpacks the argument and copies the
// entry's server (left empty when the entry moved on; the attach that follows
// then fails). False when the index is out of range.
bool client_attempt_begin(void* arg, ClientAttempt* attempt);
// A socket for an attempt (close-on-exec); -1 also when its number is too
// large to link.
int client_open_socket(int type);
// Records the address the UDP attempt resolved (0: none); false when the
// entry moved on, connected or not.
bool client_store_resolved(int index, uint32_t generation, uint32_t resolved);
// A fresh generation for the next socket of an entry.
uint32_t client_next_generation();
// Links a new attempt {CONNECTING, no socket, generation}; a socket still
// linked is woken with shutdown() so that its thread ends.
void client_begin(int index, uint32_t generation);
// Links the attempt's socket; false when the entry moved on meanwhile.
bool client_attach(int index, int socket, uint32_t generation);
// Closes an attempt that never got a thread, so the next send retries.
void client_abandon(int index, uint32_t generation);
// Starts a new attempt of the entry in a detached thread running body with
// the packed (index, generation); -1 when no thread could be started, the
// attempt then being abandoned.
int client_spawn(int index, void* (*body)(void*));
// Moves the attempt {CONNECTING, socket, generation} to CONNECTED; false when
// the entry was closed or restarted meanwhile (the attempt must give up).
bool client_publish_connected(int index, int socket, uint32_t generation);
// Ends an attempt: unlinks it if it is still the entry's current one, waits
// until no sender uses the socket any more, then closes it.
void client_finish(int index, int socket, uint32_t generation);
// Unlinks the current socket (state CLOSED, socket -1) and wakes its thread
// with shutdown(); the thread closes the descriptor itself.
void client_close(int index);

// A sender's hold on the entry's socket: while held, the descriptor it read
// stays open even if the connection thread ends.
class ClientUse {
public:
    explicit ClientUse(int index);
    ~ClientUse();
    ClientUse(const ClientUse&) = delete;
    ClientUse& operator=(const ClientUse&) = delete;
    int state() const { return link_state(link_); }
    int socket() const { return link_socket(link_); }

private:
    ClientConnection& entry_;
    ClientLink link_;
};
