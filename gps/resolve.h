// Host name lookup for the client threads.
#pragma once

#include <netinet/in.h>

// First IPv4 address of host; thread-safe, unlike gethostbyname. Returns 0 or -1.
int resolve_ipv4(const char* host, in_addr* out);
