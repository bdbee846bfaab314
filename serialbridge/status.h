// dastral's status file, /var/run/dastral.status: the bytes moved each way
// and the last activity, for the web interface (keys in
// openwrt/status-files.md).
#pragma once

#include <ctime>

struct BridgeStatus {
    const char* board_port;
    const char* module_port;
    unsigned long long to_module; // bytes read from the board's port
    unsigned long long to_board;  // bytes read from the module's port
    time_t last_activity;         // 0: nothing moved yet
};

// Publishes when a second has passed since the last look.
void bridge_status_publish(const BridgeStatus& status);
