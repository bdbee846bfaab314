// Byte counters of a network interface, and what one reading adds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings.h"

// Interface names as the kernel holds them: at most 15 characters.
constexpr int IF_NAME_SIZE = 16;

// One reading of an interface's link statistics. The index tells an
// interface that was deleted and made again under the same name.
struct ndev {
    char name[IF_NAME_SIZE];
    int ifindex;
    uint64_t tx;
    uint64_t rx;
};

// Fills ifindex, tx and rx of dev for its name from the kernel's 64-bit
// counters; 0 when found up or running, -1 otherwise.
int get_if_dbytes(ndev* dev);
// Reads the named interface: its index and counters; -1 when they cannot be read.
int get_used(const char* ifname, long long* tx, long long* rx, int* ifindex);
// Reads the kernel's answer to a link request for dev's name: 0 with dev
// filled when it names an interface that is up or running and carries
// statistics, -1 otherwise. Takes any bytes: the length bounds every read.
int parse_link_reply(const void* reply, size_t length, ndev* dev);

// Length of a cycle the speeds are computed over, in milliseconds.
constexpr double SPEED_INTERVAL_MS = 3000.0;
// The most a link can carry in a second, 2 Gbit/s: a counter that fell less
// than this many bytes per elapsed second short of 2^32 wrapped.
constexpr long long LINK_BYTES_PER_SECOND_MAX = 250000000;

// What one reading changed: bytes added and the speeds in KB/s.
struct ReadingResult {
    long long added;
    float ul_speed; // rate of the received-bytes counter
    float dl_speed; // rate of the transmitted-bytes counter
};

// Bytes a counter moved from last to now, on the same interface: its growth;
// where it fell, the wrap of a 32-bit counter when that takes no more than
// max_growth bytes, else now (the counter started again).
long long counter_growth(long long now, long long last, long long max_growth);
// Adds the bytes since the last reading to used and keeps this reading. A
// new interface index (the interface was made again) counts the counters
// whole; max_growth bounds a wrap (see counter_growth).
ReadingResult account_reading(TrafficSettings& settings, long long tx, long long rx, int ifindex,
                              long long max_growth);
