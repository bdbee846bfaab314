#include "UdpClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "log.h"
#include "resolve.h"

// Unit name in the prefix of this file's log lines.
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

void receive_loop(int index, int sock, ClientReceiveFn on_receive)
{
    // Large and per thread: kept on the thread's stack, not in static storage.
    char buffer[CLIENT_RECV_SIZE + 1];
    for (;;) {
        memset(buffer, 0, sizeof buffer);
        sockaddr_in from;
        socklen_t from_len = sizeof from;
        ssize_t n = recvfrom(sock, buffer, CLIENT_RECV_SIZE, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
        if (n <= 0) {
            int err = errno;
            log_print(LOG_ERROR, "[%s %d] Error： recvfrom error code :%d info: '%s'\n", LOG_UNIT, __LINE__, err,
                      strerror(err));
            return;
        }
        log_print(LOG_DEBUG, "[%s %d] Debug： recvfrom succeed :'%s' len: %d\n", LOG_UNIT, __LINE__, buffer,
                  static_cast<int>(n));
        if (on_receive)
            on_receive(index, buffer, static_cast<int>(n));
    }
}

void* udp_receive_thread(void* arg)
{
    ClientAttempt attempt;
    if (!client_attempt_begin(arg, &attempt)) {
        log_print(LOG_ERROR, "[%s %d] Error： max connection is overflow,index=%d, max connection=%d", LOG_UNIT,
                  __LINE__, attempt.index, MAX_CONNECTIONS);
        return nullptr;
    }
    int index = attempt.index;
    const ClientTarget& target = attempt.target;
    int sock = client_open_socket(SOCK_DGRAM);
    if (sock < 0)
        log_print(LOG_ERROR, "[%s %d] Error： Socket", LOG_UNIT, __LINE__);
    if (!client_attach(index, sock, attempt.generation)) {
        // The entry was closed or restarted before this attempt got going.
        if (sock >= 0)
            close(sock);
        return nullptr;
    }
    log_print(LOG_DEBUG, "[%s %d] Debug： socket created\n", LOG_UNIT, __LINE__);
    sockaddr_in resolved;
    bool has_resolved = false;
    if (target.host[0]) {
        in_addr addr;
        if (resolve_ipv4(target.host, &addr) == 0) {
            memset(&resolved, 0, sizeof resolved);
            resolved.sin_family = AF_INET;
            resolved.sin_port = htons(static_cast<uint16_t>(target.port));
            resolved.sin_addr = addr;
            has_resolved = true;
        } else {
            log_print(LOG_WARNING, "[%s %d] Warning： gethostbyname error: %s！", LOG_UNIT, __LINE__, target.host);
        }
    }
    if (client_store_resolved(index, attempt.generation, has_resolved ? &resolved : nullptr) &&
        client_publish_connected(index, sock, attempt.generation))
        receive_loop(index, sock, target.on_receive);
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
        log_print(LOG_ERROR, "[%s %d] Error： reconnect for tcp client failure", LOG_UNIT, __LINE__);
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
        log_print(LOG_ERROR, "[%s %d] Error： server is connecting\n", LOG_UNIT, __LINE__);
        return -2;
    }
    sockaddr_in dest;
    memset(&dest, 0, sizeof dest);
    bool have_address;
    if (entry.target.host[0]) {
        have_address = entry.has_resolved;
        if (have_address)
            dest = entry.resolved;
    } else {
        have_address = inet_aton(entry.target.ip, &dest.sin_addr) != 0;
    }
    if (!have_address) {
        log_print(LOG_ERROR, "[%s %d] Error： inet_aton,ip=%s, index=%d", LOG_UNIT, __LINE__, entry.target.ip, index);
        return -3;
    }
    dest.sin_family = AF_INET;
    dest.sin_port = htons(static_cast<uint16_t>(entry.target.port));
    ssize_t sent = sendto(use.socket(), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
    if (sent < 0) {
        int err = errno;
        log_print(LOG_ERROR, "[%s %d] Error： send error code: %d info: '%s'\n", LOG_UNIT, __LINE__, err,
                  strerror(err));
        return -1;
    }
    log_print(LOG_DEBUG, "[%s %d] Debug： send %d bytes successfully\n", LOG_UNIT, __LINE__, static_cast<int>(sent));
    return 0;
}
