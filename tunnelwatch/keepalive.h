// The keepalive packet and the two raw sockets that carry the watchdog's packets.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

// Lays a keepalive into buf (KEEPALIVE_SIZE bytes) from a drawn number:
// its low 16 bits are the inner identification, plus one the outer.
void fill_keepalive(uint8_t* buf, unsigned drawn, in_addr local, in_addr remote);
// A new keepalive between the configured end points, drawn with rand().
void build_keepalive(uint8_t* buf);

// Internet checksum of length bytes, in memory order; a last odd byte is not added.
uint16_t ip_checksum(const void* data, size_t length);

// Opens both raw sockets; takes the exit path when one cannot be opened.
void open_raw_sockets();
// 1 on success, 0 on failure.
int set_nonblock(int sock);
// Sends one packet, retrying a busy socket; 1 when it went out (byte count in
// *sent, which the caller sets to 0), 0 otherwise.
int nonblock_write(int sock, const void* data, size_t length, in_addr address, unsigned* sent);
