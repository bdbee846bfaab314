#include "UdpClient.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log.h"
#include "monotonic.h"
#include "resolve.h"

constexpr char LOG_UNIT[] = "UdpClient.cpp";

namespace {

int start_entry(int index, const char* host, const char* ip, int port, ClientReceiveFn on_receive)
{
    if (index < 0 || index >= MAX_CONNECTIONS)
        return -1;
    client_reset(index, host, ip, port, on_receive);
    UdpClientOpen(index);
    return 0;
}

// Lookups of the server's host name: a failed one is tried again a second
// later (the name may be unknown only until the mobile link is up), a good
// one refreshed now and then so that a server that moves is followed.
constexpr long long LOOKUP_RETRY_MS = 1000;
constexpr long long LOOKUP_REFRESH_MS = 10 * 60 * 1000;
// A refresh that fails keeps the address in hand and is tried again after this.
constexpr long long LOOKUP_REFRESH_RETRY_MS = 60 * 1000;
// Longest wait in the receive loop, so that a sender's request for a lookup
// is seen within a second.
constexpr int RECEIVE_WAIT_MS = 1000;

// The host name lookups of one attempt, kept by its thread.
struct HostLookup {
    const char* host;
    uint32_t address;   // last good address, network order; 0 none
    long long last_ms;  // start of the latest lookup
    int failures;       // failed lookups since the last good one
};

// Looks the host up now. A run of failures is logged once, and its end once.
void look_up(HostLookup* lookup)
{
    lookup->last_ms = monotonic_ms();
    in_addr addr;
    if (resolve_ipv4(lookup->host, &addr) == 0 && addr.s_addr != 0) {
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &addr, text, sizeof text);
        if (lookup->failures > 0)
            LOG(LOG_INFO, "Info： %s resolved to %s after %d failed lookups", lookup->host, text, lookup->failures);
        else if (lookup->address != 0 && lookup->address != addr.s_addr)
            LOG(LOG_INFO, "Info： %s moved to %s", lookup->host, text);
        lookup->address = addr.s_addr;
        lookup->failures = 0;
        return;
    }
    if (lookup->failures++ == 0)
        LOG(LOG_WARNING, "Warning： gethostbyname error: %s！", lookup->host);
}

// When the next lookup is due; wanted: a sender asked for one.
long long lookup_due(const HostLookup& lookup, bool wanted)
{
    if (lookup.address == 0 || wanted)
        return lookup.last_ms + LOOKUP_RETRY_MS;
    return lookup.last_ms + (lookup.failures > 0 ? LOOKUP_REFRESH_RETRY_MS : LOOKUP_REFRESH_MS);
}

// Receives until the socket fails or is shut down, looking the host up
// between datagrams when a lookup is due. Returns when the attempt must end.
void receive_loop(const ClientAttempt& attempt, int sock, HostLookup* lookup)
{
    const int index = attempt.index;
    ClientConnection& entry = client_table[index];
    // Large and per thread: kept on the thread's stack, not in static storage.
    char buffer[CLIENT_RECV_SIZE + 1];
    for (;;) {
        int wait_ms = -1;
        if (lookup) {
            long long now = monotonic_ms();
            long long due = lookup_due(*lookup, entry.lookup_wanted.load());
            if (now >= due) {
                entry.lookup_wanted.store(false);
                look_up(lookup);
                if (!client_store_resolved(index, attempt.generation, lookup->address))
                    return;
                continue;
            }
            wait_ms = static_cast<int>(due - now < RECEIVE_WAIT_MS ? due - now : RECEIVE_WAIT_MS);
        }
        pollfd ready = {sock, POLLIN, 0};
        if (poll(&ready, 1, wait_ms) <= 0)
            continue;
        memset(buffer, 0, sizeof buffer);
        sockaddr_in from;
        socklen_t from_len = sizeof from;
        ssize_t n = recvfrom(sock, buffer, CLIENT_RECV_SIZE, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
        if (n <= 0) {
            int err = errno;
            LOG(LOG_ERROR, "Error： recvfrom error code :%d info: '%s'\n", err, strerror(err));
            return;
        }
        LOG(LOG_DEBUG, "Debug： recvfrom succeed :'%s' len: %d\n", buffer, static_cast<int>(n));
        if (attempt.target.on_receive)
            attempt.target.on_receive(index, buffer, static_cast<int>(n));
    }
}

void* udp_receive_thread(void* arg)
{
    ClientAttempt attempt;
    if (!client_attempt_begin(arg, &attempt)) {
        LOG(LOG_ERROR, "Error： max connection is overflow,index=%d, max connection=%d", attempt.index, MAX_CONNECTIONS);
        return nullptr;
    }
    int index = attempt.index;
    int sock = client_open_socket(SOCK_DGRAM);
    if (sock < 0)
        LOG(LOG_ERROR, "Error： Socket");
    if (!client_attach(index, sock, attempt.generation)) {
        // The entry was closed or restarted before this attempt got going.
        if (sock >= 0)
            close(sock);
        return nullptr;
    }
    LOG(LOG_DEBUG, "Debug： socket created\n");
    HostLookup lookup = {attempt.target.host, 0, 0, 0};
    bool by_name = attempt.target.host[0] != 0;
    if (by_name)
        look_up(&lookup);
    if (client_store_resolved(index, attempt.generation, lookup.address) &&
        client_publish_connected(index, sock, attempt.generation))
        receive_loop(attempt, sock, by_name ? &lookup : nullptr);
    client_finish(index, sock, attempt.generation);
    return nullptr;
}

} // namespace

int UdpClientStart(int index, const char* ip, int port, ClientReceiveFn on_receive)
{
    return start_entry(index, "", ip, port, on_receive);
}

int UdpClientStartHost(int index, const char* host, int port, ClientReceiveFn on_receive)
{
    return start_entry(index, host, "", port, on_receive);
}

int UdpClientOpen(int index)
{
    if (index < 0 || index >= MAX_CONNECTIONS)
        return -1;
    if (client_spawn(index, udp_receive_thread) != 0) {
        LOG(LOG_ERROR, "Error： reconnect for tcp client failure");
        return -1;
    }
    return 0;
}

int UdpClientSend(int index, const char* data, int length)
{
    if (index < 0 || index >= MAX_CONNECTIONS)
        return -1;
    ClientConnection& entry = client_table[index];
    ClientUse use(index);
    if (use.state() == CONN_CLOSED)
        return UdpClientOpen(index);
    if (use.state() == CONN_CONNECTING) {
        LOG(LOG_ERROR, "Error： server is connecting\n");
        return -2;
    }
    sockaddr_in dest;
    memset(&dest, 0, sizeof dest);
    bool have_address;
    const bool by_name = entry.target.host[0] != 0;
    if (by_name) {
        dest.sin_addr.s_addr = entry.resolved.load();
        have_address = dest.sin_addr.s_addr != 0;
    } else {
        have_address = inet_aton(entry.target.ip, &dest.sin_addr) != 0;
    }
    if (!have_address) {
        LOG(LOG_ERROR, "Error： inet_aton,ip=%s, index=%d", entry.target.ip, index);
        return -3;
    }
    dest.sin_family = AF_INET;
    dest.sin_port = htons(static_cast<uint16_t>(entry.target.port));
    ssize_t sent = sendto(use.socket(), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
    if (sent < 0) {
        int err = errno;
        LOG(LOG_ERROR, "Error： send error code: %d info: '%s'\n", err, strerror(err));
        // The address may have gone stale: the receive thread looks the name up again.
        if (by_name)
            entry.lookup_wanted.store(true);
        return -1;
    }
    LOG(LOG_DEBUG, "Debug： send %d bytes successfully\n", static_cast<int>(sent));
    return 0;
}
