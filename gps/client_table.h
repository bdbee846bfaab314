// The network client entries shared by the UDP and TCP clients.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>

// Entries addressed by index 0..63.
constexpr int MAX_CONNECTIONS = 64;
// Host name or address text of the server, terminator included.
constexpr int CLIENT_HOST_SIZE = 128;
// One receive of a client thread (the terminator comes on top).
constexpr int CLIENT_RECV_SIZE = 40960;

enum {
    CONN_NEVER = 0,
    CONN_CLOSED = 1,
    CONN_CONNECTING = 2,
    CONN_CONNECTED = 3,
};

using ClientReceiveFn = void (*)(int index, const char* data, int length);

// State, socket and a generation packed into one word, so that the main thread
// never pairs a "connected" state with a descriptor that a client thread has
// already given up. Layout: bits 0-1 state, 2-11 generation, 12-31 socket + 1.
using ClientLink = uint32_t;

constexpr ClientLink make_link(int state, int socket, uint32_t generation)
{
    return static_cast<ClientLink>(state & 3) | ((generation & 0x3FFu) << 2) |
           (static_cast<ClientLink>(socket + 1) << 12);
}
constexpr int link_state(ClientLink link) { return static_cast<int>(link & 3); }
constexpr int link_socket(ClientLink link) { return static_cast<int>(link >> 12) - 1; }
// Sockets above this number cannot be packed; the clients refuse them.
constexpr int LINK_MAX_SOCKET = (1 << 20) - 2;

struct ClientConnection {
    char host[CLIENT_HOST_SIZE];
    char ip[CLIENT_HOST_SIZE];
    int port;
    std::atomic<ClientLink> link;
    pthread_t thread;
    ClientReceiveFn on_receive;
    // Threads inside a send or shutdown on the linked socket; its owner thread
    // closes the descriptor only once this is back to 0.
    std::atomic<int> users;
    // Server address the UDP thread resolved from host; valid while connected.
    sockaddr_in resolved;
    bool has_resolved;
};

extern ClientConnection client_table[MAX_CONNECTIONS];

int client_state(int index);
int client_socket(int index);

// Resets an entry for a new server; index must be in range.
void client_reset(int index, const char* host, const char* ip, int port, ClientReceiveFn on_receive);
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
