// The simulated SIM message store: a directory with one file per occupied
// slot, named by its decimal index and holding the stored PDU hex on one line.
// Read afresh at every access, so other processes may add messages at any time.
#pragma once

#include <string>

constexpr int STORE_SLOTS = 256; // hosts address slots with 8-bit indexes

bool store_read(const std::string& dir, int index, std::string& pdu);
// Writes through a temporary file and a rename, so a reader never sees half a PDU.
bool store_write(const std::string& dir, int index, const std::string& pdu);
bool store_delete(const std::string& dir, int index);
int store_count(const std::string& dir);
// Lowest empty slot from first on, -1 when the store is full.
int store_lowest_free(const std::string& dir, int first);
