// quorral's status file, /var/run/quorral.status: the destination, whether
// it is connected, the last sentence read and the chunks forwarded and lost,
// for the web interface (keys in openwrt/status-files.md).
#pragma once

#include <ctime>

struct ForwarderStatus {
    int proto;           // 0 TCP, 1 UDP, 2 the board's serial port
    const char* server;  // host name or address (TCP, UDP)
    int port;
    int client_index;    // the client entry of TCP and UDP
    bool serial_open;    // the serial destination is open
    time_t last_sentence; // the last read that brought data, 0: none yet
    long chunks_sent;
    long chunks_dropped;
};

// Publishes when a second has passed since the last look.
void gps_status_publish(const ForwarderStatus& status);
