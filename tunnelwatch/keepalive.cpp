#include "keepalive.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "socket_open.h"
#include "syslog_log.h"
#include "watchdog.h"

namespace {

constexpr size_t IP_HEADER_SIZE = 20;
constexpr size_t GRE_HEADER_SIZE = 4;
constexpr uint8_t IP_VERSION_IHL = 0x45;
constexpr uint8_t KEEPALIVE_TOS = 0xC0;
constexpr uint16_t IP_DONT_FRAGMENT = 0x4000;
constexpr uint8_t KEEPALIVE_TTL = 64;
constexpr uint8_t PROTO_GRE = 47;
constexpr uint16_t GRE_PROTO_IPV4 = 0x0800;

void put16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

void put_ip_header(uint8_t* h, uint16_t total, uint16_t id, in_addr src, in_addr dst)
{
    h[0] = IP_VERSION_IHL;
    h[1] = KEEPALIVE_TOS;
    put16(h + 2, total);
    put16(h + 4, id);
    put16(h + 6, IP_DONT_FRAGMENT);
    h[8] = KEEPALIVE_TTL;
    h[9] = PROTO_GRE;
    memcpy(h + 12, &src, 4);
    memcpy(h + 16, &dst, 4);
    // Stored as computed: the sum runs over memory order, so it is already in wire order.
    uint16_t sum = ip_checksum(h, IP_HEADER_SIZE);
    memcpy(h + 10, &sum, 2);
}

} // namespace

uint16_t ip_checksum(const void* data, size_t length)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t sum = 0;
    while (length > 1) {
        uint16_t word;
        memcpy(&word, bytes, 2);
        sum += word;
        if (sum & 0x80000000u)
            sum = (sum & 0xFFFF) + (sum >> 16);
        bytes += 2;
        length -= 2;
    }
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

void fill_keepalive(uint8_t* buf, unsigned drawn, in_addr local, in_addr remote)
{
    memset(buf, 0, KEEPALIVE_SIZE);
    uint16_t n = static_cast<uint16_t>(drawn & 0xFFFF);
    uint8_t* outer_gre = buf + IP_HEADER_SIZE;
    uint8_t* inner = outer_gre + GRE_HEADER_SIZE;
    put_ip_header(buf, KEEPALIVE_SIZE, static_cast<uint16_t>(n + 1), local, remote);
    put16(outer_gre + 2, GRE_PROTO_IPV4);
    // The inner packet is what the peer sends back: from it, to us, GRE type 0.
    put_ip_header(inner, KEEPALIVE_REPLY_SIZE, n, remote, local);
}

void build_keepalive(uint8_t* buf)
{
    int drawn = rand();
    if (watch.settings.debug)
        syslog_debugf("gre id 0x%x ", static_cast<unsigned>(drawn));
    fill_keepalive(buf, static_cast<unsigned>(drawn), watch.settings.local.sin_addr,
                   watch.settings.remote.sin_addr);
}

int set_nonblock(int sock)
{
    int flags = fcntl(sock, F_GETFL);
    if (flags < 0) {
        syslog_notice("(set_nonblock) unable to get socket flags");
        return 0;
    }
    if (fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) {
        syslog_notice("(set_nonblock) unable to set socket flags");
        return 0;
    }
    return 1;
}

void open_raw_sockets()
{
    int one = 1;
    watch.send_socket = open_socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (watch.send_socket < 0) {
        syslog_error("failed to open a socket for sending");
        cleanup_and_exit(1);
    }
    if (setsockopt(watch.send_socket, IPPROTO_IP, IP_HDRINCL, &one, sizeof one) < 0)
        syslog_notice("failed to setsocket options");
    if (setsockopt(watch.send_socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0)
        syslog_notice("failed to setsocket options");

    watch.request_socket = open_socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (watch.request_socket < 0) {
        syslog_error("failed to open a socket for sending");
        cleanup_and_exit(1);
    }
    // Unchecked on purpose: the local address may not be configured yet at start.
    bind(watch.request_socket, reinterpret_cast<const sockaddr*>(&watch.settings.local),
         sizeof watch.settings.local);
    if (setsockopt(watch.request_socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) {
        syslog_notice("failed to setsocket options");
        cleanup_and_exit(1);
    }
    set_nonblock(watch.request_socket);
    set_nonblock(watch.send_socket);
}

int nonblock_write(int sock, const void* data, size_t length, in_addr address, unsigned* sent)
{
    sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = 0;
    to.sin_addr = address;
    debug_only_limited(&watch.lines.sending, "(nonblock_write) sending packet");

    unsigned attempts = 0;
    while (attempts <= watch.send_attempts && *sent == 0) {
        errno = 0;
        ssize_t n = watch.send_fn(sock, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n >= 0) {
            *sent = static_cast<unsigned>(n);
            break;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            syslog_notice_limited(&watch.lines.send_failed, "unable to send packet");
            return 0;
        }
        if (++attempts > watch.send_attempts)
            return 0;
        struct timespec pause = {0, 100000};
        nanosleep(&pause, nullptr);
    }
    debug_only_limited(&watch.lines.sent, "(nonblock_write) packet sent");
    return 1;
}
