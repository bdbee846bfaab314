// One AT exchange with the modem: write, pause, collect the answer within a time-out.
#pragma once

// wait_mode values of read_datas and at_command.
constexpr int AT_QUIET_STOP = 0; // end when the modem falls silent after answering
constexpr int AT_WAIT_FULL = 1;  // always read until the time-out

// cmd may be null (read only). Returns 0 when written and read, 1 when the write failed.
int at_command(int fd, const char* cmd, char* response, int timeout, int wait_mode);
// Returns 1 on success, -1 on failure.
int at_write(int fd, const char* cmd);
// Fills buffer (AT_RESPONSE_SIZE bytes). Always returns 1.
int read_datas(int fd, char* buffer, int timeout, int wait_mode);
int str_contains(const char* text, const char* pattern);
// True when text holds hex digits only (at least one): the only outside
// bytes the modem is ever sent sit inside the hex PDU.
bool hex_only(const char* text, int length);
// Aborts whatever the modem may still wait for (a PDU after the "> "
// prompt, left by a process that was killed) and drops its answers.
void cancel_pending_submission(int fd);
