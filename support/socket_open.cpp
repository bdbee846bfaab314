#include "socket_open.h"

#include <sys/socket.h>

int open_socket(int domain, int type, int protocol) { return socket(domain, type | SOCK_CLOEXEC, protocol); }
