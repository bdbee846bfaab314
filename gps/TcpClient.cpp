#include "TcpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "log.h"
#include "monotonic.h"
#include "resolve.h"

constexpr char LOG_UNIT[] = "TcpClient.cpp";

namespace {

// A connect that has not completed by then is given up (an unreachable or
// blackholed server would otherwise hold the attempt for minutes).
constexpr int CONNECT_TIMEOUT_MS = 5000;
// Data left unacknowledged this long ends the connection, so a path that went
// dark is noticed and reconnected instead of waiting out TCP's back-off.
constexpr unsigned UNACKED_TIMEOUT_MS = 5000;
// Longest a send may hold the caller while the socket's buffer is full; the
// connection is closed after that.
constexpr int SEND_TIMEOUT_MS = 1000;
// Lazy reconnection starts at most one attempt per entry in this time.
constexpr uint32_t RECONNECT_SPACING_MS = 1000;

// Process-wide settings of the TCP client; the forwarder uses neither.
struct TcpSettings {
    std::atomic<ClientConnectedFn> on_connected{nullptr};
    std::atomic<int> no_delay{0};
    // Start of each entry's latest connection attempt: monotonic ms cut to
    // 32 bits (0 none), since the router's 32-bit MIPS has no lock-free
    // 64-bit atomics; differences are taken modulo 2^32.
    std::atomic<uint32_t> last_attempt_ms[MAX_CONNECTIONS] = {};
};

TcpSettings tcp_settings;

// Connects within CONNECT_TIMEOUT_MS; the socket is left blocking for the
// receive loop. 0 connected, -1 failed, -2 timed out.
int connect_with_timeout(int sock, const sockaddr_in& addr)
{
    int flags = fcntl(sock, F_GETFL);
    if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0)
        return -1;
    int rc = connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p = {sock, POLLOUT, 0};
        int ready;
        do
            ready = poll(&p, 1, CONNECT_TIMEOUT_MS);
        while (ready < 0 && errno == EINTR);
        if (ready == 0)
            return -2;
        int err = 0;
        socklen_t len = sizeof err;
        rc = (ready > 0 && getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) ? 0 : -1;
    }
    if (rc != 0 || fcntl(sock, F_SETFL, flags) < 0)
        return -1;
    return 0;
}

// Sends all of data within SEND_TIMEOUT_MS, never blocking longer. 0 sent,
// -1 send error (errno set), -2 the buffer stayed full.
int send_within_timeout(int sock, const char* data, size_t length, size_t* sent)
{
    long long deadline = monotonic_ms() + SEND_TIMEOUT_MS;
    *sent = 0;
    while (*sent < length) {
        // MSG_NOSIGNAL: a connection the server reset must not end the process.
        ssize_t n = send(sock, data + *sent, length - *sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            *sent += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        long long left = deadline - monotonic_ms();
        if (left <= 0)
            return -2;
        pollfd p = {sock, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(left));
    }
    return 0;
}

int start_entry(int index, const char* host, const char* ip, int port, ClientReceiveFn on_receive)
{
    LOG(LOG_DEBUG, "Debug： TcpClientStart called");
    if (index < 0 || index >= MAX_CONNECTIONS)
        return -1;
    client_reset(index, host, ip, port, on_receive);
    TcpClientReconnect(index);
    return 0;
}

// Fills the server address; false when this attempt must end before connecting.
bool server_address(int index, const ClientTarget& entry, sockaddr_in* addr)
{
    memset(addr, 0, sizeof *addr);
    addr->sin_family = AF_INET;
    addr->sin_port = htons(static_cast<uint16_t>(entry.port));
    if (entry.host[0]) {
        if (resolve_ipv4(entry.host, &addr->sin_addr) != 0) {
            // Connecting to 0.0.0.0 instead would reach this router's own
            // services on that port; the next send tries the lookup again.
            LOG(LOG_ERROR, "Error： gethostbyname error: %s！", entry.host);
            return false;
        }
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &addr->sin_addr, text, sizeof text);
        LOG(LOG_DEBUG, "Debug： gethostbyname success: %s！", text);
        return true;
    }
    if (inet_aton(entry.ip, &addr->sin_addr) == 0) {
        LOG(LOG_ERROR, "Error： inet_aton error, ip=%s, index = %d", entry.ip, index);
        return false;
    }
    return true;
}

// Connects and receives until the connection ends; the caller cleans up.
void run_connection(const ClientAttempt& attempt, int sock)
{
    int index = attempt.index;
    if (tcp_settings.no_delay.load() == 1) {
        int one = 1;
        if (setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == -1) {
            LOG(LOG_ERROR, "Error： set tcp nodelay error");
            return;
        }
        LOG(LOG_DEBUG, "Debug： set TCP_NODELAY");
    }
    sockaddr_in addr;
    if (!server_address(index, attempt.target, &addr))
        return;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    LOG(LOG_TRACE, "Trace： connect to %s  ", text);
    int connected = connect_with_timeout(sock, addr);
    if (connected == -2)
        LOG(LOG_ERROR, "Error： connect timed out after %d s, index=%d", CONNECT_TIMEOUT_MS / 1000, index);
    if (connected != 0) {
        LOG(LOG_ERROR, "Error： Connect failure, index=%d", index);
        return;
    }
    // Set once connected: the connect has its own time-out above.
    unsigned unacked = UNACKED_TIMEOUT_MS;
    setsockopt(sock, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacked, sizeof unacked);
    LOG(LOG_DEBUG, "Debug： server connected");
    if (!client_publish_connected(index, sock, attempt.generation))
        return; // closed or restarted while connecting
    if (ClientConnectedFn callback = tcp_settings.on_connected.load())
        callback(index);

    ClientReceiveFn on_receive = attempt.target.on_receive;
    // Large and per thread: kept on the thread's stack, not in static storage.
    char buffer[CLIENT_RECV_SIZE + 1];
    for (;;) {
        memset(buffer, 0, sizeof buffer);
        ssize_t n = recv(sock, buffer, CLIENT_RECV_SIZE, 0);
        if (n <= 0) {
            int err = errno;
            LOG(LOG_ERROR, "Error： recv error code :%d info: '%s'", err, strerror(err));
            return;
        }
        LOG(LOG_TRACE, "Trace： recv succeed :'%s' len: %d", buffer, static_cast<int>(n));
        if (on_receive)
            on_receive(index, buffer, static_cast<int>(n));
    }
}

void* tcp_connect_thread(void* arg)
{
    LOG(LOG_DEBUG, "Debug： thread starting ...");
    ClientAttempt attempt;
    if (!client_attempt_begin(arg, &attempt)) {
        LOG(LOG_ERROR, "Error： max connection is overflow,index=%d, max connection=%d", attempt.index, MAX_CONNECTIONS);
        return nullptr;
    }
    int index = attempt.index;
    int sock = client_open_socket(SOCK_STREAM);
    if (sock < 0) {
        LOG(LOG_ERROR, "Error： Socket error");
    } else if (client_attach(index, sock, attempt.generation)) {
        LOG(LOG_DEBUG, "Debug： socket created");
        run_connection(attempt, sock);
    }
    LOG(LOG_INFO, "Info： connection terminated");
    client_finish(index, sock, attempt.generation);
    return nullptr;
}

} // namespace

int TcpClientStart(int index, const char* ip, int port, ClientReceiveFn on_receive)
{
    return start_entry(index, "", ip, port, on_receive);
}

int TcpClientStartHost(int index, const char* host, int port, ClientReceiveFn on_receive)
{
    return start_entry(index, host, "", port, on_receive);
}

int TcpClientReconnect(int index)
{
    if (index < 0 || index >= MAX_CONNECTIONS)
        return -1;
    LOG(LOG_INFO, "Info： try to re-connecting");
    uint32_t now = static_cast<uint32_t>(monotonic_ms());
    tcp_settings.last_attempt_ms[index].store(now != 0 ? now : 1);
    if (client_spawn(index, tcp_connect_thread) != 0) {
        LOG(LOG_ERROR, "Error： reconnect for tcp client failure");
        return -1;
    }
    return 0;
}

int TcpClientSend(int index, const char* data, int length)
{
    if (index < 0 || index >= MAX_CONNECTIONS)
        return -1;
    ClientUse use(index);
    LOG(LOG_DEBUG, "Debug： i=%d, fd=%d, status=%d", index, use.socket(), use.state());
    if (use.state() == CONN_CLOSED) {
        // A server that refuses or resets at once must not be hammered
        // however short the forwarding interval.
        uint32_t last = tcp_settings.last_attempt_ms[index].load();
        if (last == 0 || static_cast<uint32_t>(monotonic_ms()) - last >= RECONNECT_SPACING_MS)
            TcpClientReconnect(index);
        return -2;
    }
    if (use.state() == CONN_CONNECTING) {
        LOG(LOG_INFO, "Info： server is connecting");
        return -2;
    }
    size_t sent = 0;
    int rc = send_within_timeout(use.socket(), data, length > 0 ? static_cast<size_t>(length) : 0, &sent);
    if (rc == -1) {
        int err = errno;
        LOG(LOG_ERROR, "Error： send error code: %d info: '%s'", err, strerror(err));
        return -1;
    }
    if (rc == -2) {
        // The server stopped taking data; waiting longer would stall the
        // caller's loop. The thread ends, the next sends reconnect lazily.
        LOG(LOG_ERROR, "Error： send buffer full for %d ms, %d of %d bytes sent, connection closed, index=%d",
            SEND_TIMEOUT_MS, static_cast<int>(sent), length, index);
        client_close(index);
        return -1;
    }
    LOG(LOG_TRACE, "Trace： send %d bytes successfully", static_cast<int>(sent));
    return 0;
}

void TcpClientClose(int index)
{
    if (index < 0 || index >= MAX_CONNECTIONS)
        return;
    client_close(index);
}

int TcpClientReconnectAll()
{
    for (int i = 0; i < MAX_CONNECTIONS; ++i)
        if (client_state(i) == CONN_CLOSED)
            TcpClientReconnect(i);
    return 0;
}

void TcpClientSetConnectCallback(ClientConnectedFn callback) { tcp_settings.on_connected.store(callback); }

void TcpClientEnableNoDelay() { tcp_settings.no_delay.store(1); }
