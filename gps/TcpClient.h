// TCP client: one connection per entry, connected and read by a detached
// thread, written by the caller; reconnects lazily on the next send.
#pragma once

#include "client_table.h"

using ClientConnectedFn = void (*)(int index);

int TcpClientStart(int index, const char* ip, int port, ClientReceiveFn on_receive);
int TcpClientStartHost(int index, const char* host, int port, ClientReceiveFn on_receive);
int TcpClientReconnect(int index);
// 0 sent, -1 send failed, -2 closed (a reconnection is started) or connecting.
int TcpClientSend(int index, const char* data, int length);
void TcpClientClose(int index);
int TcpClientReconnectAll();
void TcpClientSetConnectCallback(ClientConnectedFn callback);
void TcpClientEnableNoDelay();
