// Byte counters of a network interface, and what one reading adds.
#pragma once

#include <cstdint>

#include "settings.h"

// Interface names as the kernel holds them: at most 15 characters.
constexpr int IF_NAME_SIZE = 16;

// One reading of an interface's link statistics.
struct ndev {
    char name[IF_NAME_SIZE];
    uint32_t tx;
    uint32_t rx;
};

// Fills tx and rx of dev for its name; 0 when found, -1 otherwise.
int get_if_dbytes(ndev* dev);
// Reads the counters of the named interface; -1 when they cannot be read.
int get_used(const char* ifname, long long* tx, long long* rx);

// Length of a cycle the speeds are computed over, in milliseconds.
constexpr double SPEED_INTERVAL_MS = 3000.0;

// What one reading changed: bytes added and the speeds in KB/s.
struct ReadingResult {
    long long added;
    float ul_speed; // rate of the received-bytes counter
    float dl_speed; // rate of the transmitted-bytes counter
};

// Adds the bytes since the last reading to used and keeps this reading.
// Each counter is taken on its own: one that fell (wrapped at 2^32 or
// restarted with the interface) counts its new value, the other its growth.
ReadingResult account_reading(TrafficSettings& settings, long long tx, long long rx);
