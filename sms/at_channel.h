// One AT exchange with the modem: write, pause, collect the answer within a time-out.
#pragma once

#include <cstddef>

// wait_mode values of read_datas and at_command.
constexpr int AT_QUIET_STOP = 0; // end when the modem falls silent after answering, or at its final result
constexpr int AT_WAIT_FULL = 1;  // always read until the time-out
// The next ones write without the pause and end as soon as the answer is
// complete (and the line has stayed quiet a moment), the time-out being the
// longest wait.
constexpr int AT_UNTIL_FINAL = 2;  // the final result: OK, ERROR, +CMS ERROR, +CME ERROR
constexpr int AT_UNTIL_PROMPT = 3; // the "> " prompt of a submission, or a final result
constexpr int AT_UNTIL_REPORT = 4; // a CDMA submission's report (^HCMGSS, ^HCMGSF) or an error

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
// Drops answers that came after their exchange ended: a late prompt must
// never be taken for the next submission's.
void drop_stale_input(int fd);

// The modem's verdict in an answer.
enum class AtResult { None, Ok, Error };
// The last whole line of text that is a final result (OK; ERROR, +CMS
// ERROR: n, +CME ERROR: n), copied into line when it is given.
AtResult at_final_result(const char* text, char* line, size_t size);
// The last whole line that reports a CDMA submission: ^HCMGSS (sent),
// ^HCMGSF or an error result (failed).
AtResult cdma_submit_report(const char* text, char* line, size_t size);
// The first line of text that starts with prefix, null when there is none.
const char* find_line(const char* text, const char* prefix);
// True when the modem's last word is the "> " prompt: it waits for a PDU.
bool prompt_waiting(const char* text);
