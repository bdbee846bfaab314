// Sockets of the daemons: never inherited by the scripts and tools they start.
#pragma once

// socket(2) with close-on-exec set; -1 with errno on failure.
int open_socket(int domain, int type, int protocol);
