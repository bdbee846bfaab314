// tolvane's status file, /var/run/tolvane-<gname>.status: the tunnel's mode,
// state since its last change and the last keepalive traffic, for the web
// interface (keys in openwrt/status-files.md).
#pragma once

#include <pthread.h>

// Waits for the watch threads to end and publishes the status meanwhile, at
// most once a second, from this (the main) thread alone.
void join_publishing_status(pthread_t* threads, int count);
