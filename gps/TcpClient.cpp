#include "TcpClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "log.h"
#include "resolve.h"
#include "thread_arg.h"

namespace {

// Process-wide settings of the TCP client; the forwarder uses neither.
struct TcpSettings {
    std::atomic<ClientConnectedFn> on_connected{nullptr};
    std::atomic<int> no_delay{0};
};

TcpSettings tcp_settings;

int start_entry(int index, const char* host, const char* ip, int port, ClientReceiveFn on_receive)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： TcpClientStart called", LOG_SRC, __LINE__);
    if (index < 0 || index >= MAX_CONNECTIONS)
        return -1;
    client_reset(index, host, ip, port, on_receive);
    TcpClientReconnect(index);
    return 0;
}

// Fills the server address; false when this attempt must end before connecting.
bool server_address(int index, sockaddr_in* addr)
{
    const ClientConnection& entry = client_table[index];
    memset(addr, 0, sizeof *addr);
    addr->sin_family = AF_INET;
    addr->sin_port = htons(static_cast<uint16_t>(entry.port));
    if (entry.host[0]) {
        if (resolve_ipv4(entry.host, &addr->sin_addr) != 0) {
            // Connecting to 0.0.0.0 instead would reach this router's own
            // services on that port; the next send tries the lookup again.
            log_print(LOG_ERROR, "[%s %d] Error： gethostbyname error: %s！", LOG_SRC, __LINE__, entry.host);
            return false;
        }
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &addr->sin_addr, text, sizeof text);
        log_print(LOG_DEBUG, "[%s %d] Debug： gethostbyname success: %s！", LOG_SRC, __LINE__, text);
        return true;
    }
    if (inet_aton(entry.ip, &addr->sin_addr) == 0) {
        log_print(LOG_ERROR, "[%s %d] Error： inet_aton error, ip=%s, index = %d", LOG_SRC, __LINE__, entry.ip, index);
        return false;
    }
    return true;
}

// Connects and receives until the connection ends; the caller cleans up.
void run_connection(int index, int sock, uint32_t generation)
{
    if (tcp_settings.no_delay.load() == 1) {
        int one = 1;
        if (setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == -1) {
            log_print(LOG_ERROR, "[%s %d] Error： set tcp nodelay error", LOG_SRC, __LINE__);
            return;
        }
        log_print(LOG_DEBUG, "[%s %d] Debug： set TCP_NODELAY", LOG_SRC, __LINE__);
    }
    sockaddr_in addr;
    if (!server_address(index, &addr))
        return;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    log_print(LOG_TRACE, "[%s %d] Trace： connect to %s  ", LOG_SRC, __LINE__, text);
    if (connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        log_print(LOG_ERROR, "[%s %d] Error： Connect failure, index=%d", LOG_SRC, __LINE__, index);
        return;
    }
    log_print(LOG_DEBUG, "[%s %d] Debug： server connected", LOG_SRC, __LINE__);
    if (!client_publish_connected(index, sock, generation))
        return; // closed or restarted while connecting
    if (ClientConnectedFn callback = tcp_settings.on_connected.load())
        callback(index);

    ClientReceiveFn on_receive = client_table[index].on_receive;
    // Large and per thread: kept on the thread's stack, not in static storage.
    char buffer[CLIENT_RECV_SIZE + 1];
    for (;;) {
        memset(buffer, 0, sizeof buffer);
        ssize_t n = recv(sock, buffer, CLIENT_RECV_SIZE, 0);
        if (n <= 0) {
            int err = errno;
            log_print(LOG_ERROR, "[%s %d] Error： recv error code :%d info: '%s'", LOG_SRC, __LINE__, err,
                      strerror(err));
            return;
        }
        log_print(LOG_TRACE, "[%s %d] Trace： recv succeed :'%s' len: %d", LOG_SRC, __LINE__, buffer,
                  static_cast<int>(n));
        if (on_receive)
            on_receive(index, buffer, static_cast<int>(n));
    }
}

void* tcp_connect_thread(void* arg)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： thread starting ...", LOG_SRC, __LINE__);
    ThreadArg self = unpack_thread_arg(arg);
    int index = self.index;
    if (index > MAX_CONNECTIONS - 1) {
        log_print(LOG_ERROR, "[%s %d] Error： max connection is overflow,index=%d, max connection=%d", LOG_SRC,
                  __LINE__, index, MAX_CONNECTIONS);
        return nullptr;
    }
    int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock > LINK_MAX_SOCKET) {
        close(sock);
        sock = -1;
    }
    if (sock < 0) {
        log_print(LOG_ERROR, "[%s %d] Error： Socket error", LOG_SRC, __LINE__);
    } else if (client_attach(index, sock, self.generation)) {
        log_print(LOG_DEBUG, "[%s %d] Debug： socket created", LOG_SRC, __LINE__);
        run_connection(index, sock, self.generation);
    }
    log_print(LOG_INFO, "[%s %d] Info： connection terminated", LOG_SRC, __LINE__);
    client_finish(index, sock, self.generation);
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
    log_print(LOG_INFO, "[%s %d] Info： try to re-connecting", LOG_SRC, __LINE__);
    if (client_spawn(index, tcp_connect_thread) != 0) {
        log_print(LOG_ERROR, "[%s %d] Error： reconnect for tcp client failure", LOG_SRC, __LINE__);
        return -1;
    }
    return 0;
}

int TcpClientSend(int index, const char* data, int length)
{
    if (index < 0 || index >= MAX_CONNECTIONS)
        return -1;
    ClientUse use(index);
    log_print(LOG_DEBUG, "[%s %d] Debug： i=%d, fd=%d, status=%d", LOG_SRC, __LINE__, index, use.socket(),
              use.state());
    if (use.state() == CONN_CLOSED) {
        TcpClientReconnect(index);
        return -2;
    }
    if (use.state() == CONN_CONNECTING) {
        log_print(LOG_INFO, "[%s %d] Info： server is connecting", LOG_SRC, __LINE__);
        return -2;
    }
    // MSG_NOSIGNAL: a connection the server reset must not end the process.
    ssize_t sent = send(use.socket(), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent < 0) {
        int err = errno;
        log_print(LOG_ERROR, "[%s %d] Error： send error code: %d info: '%s'", LOG_SRC, __LINE__, err, strerror(err));
        return -1;
    }
    log_print(LOG_TRACE, "[%s %d] Trace： send %d bytes successfully", LOG_SRC, __LINE__, static_cast<int>(sent));
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
