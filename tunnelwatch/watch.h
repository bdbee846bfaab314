// The watch: its threads, the tunnel state and the stop signal.
#pragma once

// Runs the watch until SIGINT or SIGTERM; returns when every thread of the mode has ended.
void start_watch(int retry, int seconds, const char* dev, int mode, int rcv_timeout);

void* handle_send(void* seconds);
void* handle_timeout(void* rcv_timeout);
void stop_handler(int signal_number);
