#include "client_table.h"

#include "socket_open.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

ClientConnection client_table[MAX_CONNECTIONS];

namespace {

std::atomic<uint32_t> generation_counter{0};

bool link_is(ClientLink link, int socket, uint32_t generation)
{
    return link_socket(link) == socket && link_generation(link) == (generation & LINK_GENERATION_MASK);
}

// Holds off client_reset while an attempt touches the entry's server fields.
// Counted before the link is checked: a reset that unlinks afterwards is
// bound to see the count and wait (the same order as ClientUse).
class ReaderHold {
public:
    // connected_too: an attempt that has linked CONNECTED still counts.
    ReaderHold(ClientConnection& entry, uint32_t generation, bool connected_too = false) : entry_(entry)
    {
        entry_.readers.fetch_add(1);
        ClientLink link = entry_.link.load();
        int state = link_state(link);
        current_ = link_generation(link) == (generation & LINK_GENERATION_MASK) &&
                   (state == CONN_CONNECTING || (connected_too && state == CONN_CONNECTED));
    }
    ~ReaderHold() { entry_.readers.fetch_sub(1); }
    ReaderHold(const ReaderHold&) = delete;
    ReaderHold& operator=(const ReaderHold&) = delete;
    // The attempt is still the entry's current one.
    bool current() const { return current_; }

private:
    ClientConnection& entry_;
    bool current_;
};

} // namespace

int client_state(int index) { return link_state(client_table[index].link.load()); }

int client_socket(int index) { return link_socket(client_table[index].link.load()); }

void client_reset(int index, const char* host, const char* ip, int port, ClientReceiveFn on_receive)
{
    ClientConnection& entry = client_table[index];
    // An attempt still running for the old server sees its link gone and gives up.
    client_close(index);
    // One that is copying the old server finishes its copy first.
    while (entry.readers.load() != 0)
        usleep(100);
    snprintf(entry.target.host, sizeof entry.target.host, "%s", host);
    snprintf(entry.target.ip, sizeof entry.target.ip, "%s", ip);
    entry.target.port = port;
    entry.thread = pthread_t();
    entry.target.on_receive = on_receive;
    entry.resolved.store(0);
    entry.lookup_wanted.store(false);
    entry.link.store(make_link(CONN_NEVER, -1, 0));
}

bool client_attempt_begin(void* arg, ClientAttempt* attempt)
{
    ThreadArg self = unpack_thread_arg(arg);
    memset(attempt, 0, sizeof *attempt);
    attempt->index = self.index;
    attempt->generation = self.generation;
    if (self.index < 0 || self.index >= MAX_CONNECTIONS)
        return false;
    ClientConnection& entry = client_table[self.index];
    ReaderHold hold(entry, self.generation);
    if (hold.current())
        attempt->target = entry.target;
    return true;
}

int client_open_socket(int type)
{
    int sock = open_socket(AF_INET, type, 0);
    if (sock > LINK_MAX_SOCKET) {
        close(sock);
        sock = -1;
    }
    return sock;
}

bool client_store_resolved(int index, uint32_t generation, uint32_t resolved)
{
    ClientConnection& entry = client_table[index];
    ReaderHold hold(entry, generation, true);
    if (!hold.current())
        return false;
    entry.resolved.store(resolved);
    return true;
}

uint32_t client_next_generation()
{
    // Generation 0 is what an unlinked entry carries; attempts never use it.
    for (;;) {
        uint32_t generation = generation_counter.fetch_add(1) + 1;
        if ((generation & LINK_GENERATION_MASK) != 0)
            return generation;
    }
}

void client_begin(int index, uint32_t generation)
{
    ClientConnection& entry = client_table[index];
    entry.users.fetch_add(1);
    ClientLink old = entry.link.exchange(make_link(CONN_CONNECTING, -1, generation));
    // A socket still linked belongs to an older thread: wake it so it ends.
    if (link_socket(old) >= 0)
        shutdown(link_socket(old), SHUT_RDWR);
    entry.users.fetch_sub(1);
}

bool client_attach(int index, int socket, uint32_t generation)
{
    ClientLink expected = make_link(CONN_CONNECTING, -1, generation);
    return client_table[index].link.compare_exchange_strong(expected, make_link(CONN_CONNECTING, socket, generation));
}

void client_abandon(int index, uint32_t generation)
{
    ClientLink expected = make_link(CONN_CONNECTING, -1, generation);
    client_table[index].link.compare_exchange_strong(expected, make_link(CONN_CLOSED, -1, 0));
}

int client_spawn(int index, void* (*body)(void*))
{
    uint32_t generation = client_next_generation();
    client_begin(index, generation);
    // Detached: nobody waits for an attempt's end.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, body, pack_thread_arg(index, generation));
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        // Left "connecting", the entry would refuse every later send.
        client_abandon(index, generation);
        return -1;
    }
    client_table[index].thread = thread;
    return 0;
}

bool client_publish_connected(int index, int socket, uint32_t generation)
{
    ClientLink expected = make_link(CONN_CONNECTING, socket, generation);
    return client_table[index].link.compare_exchange_strong(expected, make_link(CONN_CONNECTED, socket, generation));
}

void client_finish(int index, int socket, uint32_t generation)
{
    ClientConnection& entry = client_table[index];
    ClientLink current = entry.link.load();
    while (link_is(current, socket, generation)) {
        if (entry.link.compare_exchange_weak(current, make_link(CONN_CLOSED, -1, 0)))
            break;
    }
    if (socket < 0)
        return;
    // A sender that read the old link before it was cleared may still be in
    // send(); closing now could let the number be reused under it.
    while (entry.users.load() != 0)
        usleep(1000);
    close(socket);
}

void client_close(int index)
{
    ClientConnection& entry = client_table[index];
    entry.users.fetch_add(1);
    ClientLink old = entry.link.exchange(make_link(CONN_CLOSED, -1, 0));
    if (link_socket(old) >= 0)
        shutdown(link_socket(old), SHUT_RDWR);
    entry.users.fetch_sub(1);
}

ClientUse::ClientUse(int index) : entry_(client_table[index])
{
    // Counted before the link is read: a thread that unlinks its socket
    // afterwards is bound to see us and wait.
    entry_.users.fetch_add(1);
    link_ = entry_.link.load();
}

ClientUse::~ClientUse() { entry_.users.fetch_sub(1); }
