// UDP client: datagrams to one server per entry, one receive thread per entry.
#pragma once

#include "client_table.h"

int UdpClientStart(int index, const char* ip, int port, ClientReceiveFn on_receive);
int UdpClientStartHost(int index, const char* host, int port, ClientReceiveFn on_receive);
int UdpClientOpen(int index);
// 0 sent, -1 sendto failed, -2 still connecting, -3 no destination address,
// or UdpClientOpen's result when the entry was closed (the data is dropped).
int UdpClientSend(int index, const char* data, int length);
