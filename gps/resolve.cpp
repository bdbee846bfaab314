#include "resolve.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

int resolve_ipv4(const char* host, in_addr* out)
{
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return -1;
    *out = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 0;
}
