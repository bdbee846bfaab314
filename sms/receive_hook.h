// The owner's program run for each received message (sms.general.onreceive):
// started without a shell, the message only in its environment, its output
// to the log, ended when it runs too long. It runs beside the modem loop,
// which never waits for it beyond the time a free slot takes.
#pragma once

#include <sys/types.h>

// Programs running at once; one more waits for a slot.
constexpr int ONRECEIVE_RUNS_MAX = 4;
// A program still running this long after its start is killed.
constexpr int ONRECEIVE_LIMIT_S = 30;
// One output line as logged; a longer line is logged in pieces.
constexpr int ONRECEIVE_LINE_SIZE = 256;

struct HookRun {
    pid_t pid = 0;          // 0 once reaped
    pid_t group = 0;        // its process group, which it leads
    int out = -1;           // its stdout and stderr, -1 once closed
    long long deadline = 0; // monotonic ms; 0 once killed
    int line_len = 0;
    char line[ONRECEIVE_LINE_SIZE] = {};
};

// Starts the program for one received message: SMS_SENDER, SMS_TIME,
// SMS_TEXT and SMS_INDEX (empty when the message has no store index) are
// added to its environment. Does nothing when no program is configured.
void onreceive_start(const char* sender, const char* time, const char* text, int index);
// Looks after the running programs for wait_ms (a pause of the loop; 0:
// once, at once): their output to the log, their end, the kill of the
// overdue ones.
void onreceive_tend(int wait_ms);
