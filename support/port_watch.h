// Serial ports held by name that may vanish and come back. A USB adapter
// that re-enumerates hangs up the descriptor we hold and makes a new device
// node under the same name; only opening the name again reaches it.
#pragma once

#include <sys/types.h>

#include "paths.h"

// Reopen tries of a lost port, and checks of its node, at most this often.
constexpr long long PORT_RETRY_MS = 1000;

struct PortWatch {
    char path[ROOTED_PATH_SIZE]; // the name, as opened
    dev_t dev;                   // the node the descriptor came from
    ino_t ino;
    long long lost_ms;    // start of the latest outage
    long long tried_ms;   // latest reopen try
    long long checked_ms; // latest node check
};

// Starts watching fd, opened from path (an already rooted path).
void port_watch_start(PortWatch* watch, const char* path, int fd);

// Why fd no longer reaches the device, or null while it does: the line hung
// up or failed (poll), err (errno of a failed read or write, 0 for none) says
// so, or, checked once a second, the node at the name is gone or another one.
const char* port_gone(PortWatch* watch, int fd, int err);

// Closes *fd (set to -1) and starts the outage.
void port_lost(PortWatch* watch, int* fd);

// Opens the name again when a try is due (the first at once, then once a
// second) and sets the line up with setup; the descriptor, or -1. Nothing is
// written on standard error for a try that fails.
int port_reopen(PortWatch* watch, bool (*setup)(int fd));

// Seconds since the latest outage began.
long port_outage_s(const PortWatch& watch);
