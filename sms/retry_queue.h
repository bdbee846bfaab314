// Messages the modem refused, waiting for their next try in a file beside
// the batch: one line each, its state and counters at fixed width in front,
// so one write updates an entry in place and a pass costs no rewrite.
#pragma once

#include "sms_manager.h"
#include "spool_batch.h"

// The modem's last answer as the front keeps it, escaped and cut.
constexpr int RETRY_ANSWER_WIDTH = 63;

struct RetryEntry {
    bool done;
    int attempts;
    long long first; // boot clock seconds of the first failed attempt
    long long next;  // boot clock seconds of the next try
    bool newline;    // the spool line ended in a newline (a stale tail did not)
    char answer[RETRY_ANSWER_WIDTH + 1]; // the modem's last answer, escaped
    // The batch line it came from (batch id, offset after the line), to
    // know a line queued just before a kill.
    unsigned long long origin_id;
    long long origin_end;
    char line[SPOOL_TEXT_LINE_SIZE]; // the spool line, its newline included when it had one
};

// Bytes of the fixed-width front of an entry, its closing tab included.
constexpr int RETRY_HEADER_LEN = 97;
// One entry of the file: the front, the origin and the spool line.
constexpr int RETRY_ENTRY_SIZE = RETRY_HEADER_LEN + 48 + SPOOL_TEXT_LINE_SIZE;

int format_retry_header(const RetryEntry& e, char* out, int size);
// A whole entry with its newline; -1 when it does not fit.
int format_retry_entry(const RetryEntry& e, char* out, int size);
bool parse_retry_entry(const char* text, RetryEntry* e);

int retry_append(const char* rooted, const RetryEntry& e);
// The origin of the file's last entry; false when there is none.
bool retry_last_origin(const char* rooted, unsigned long long* id, long long* end);

// Hands each entry still waiting to each, in file order, without changing
// the file (the status file lists them). Returns how many wait.
int retry_waiting(const char* rooted, void (*each)(const RetryEntry& entry, void* ctx), void* ctx);

enum class RetryStep {
    Done,  // sent, given up or recorded: the entry is finished
    Again, // tried and failed: the entry holds its next try
    Stop,  // the modem is gone: leave this entry and the rest as they are
};
// Hands every waiting entry whose next try has come by now to step, in file
// order, and writes back what step changed. The file goes once nothing
// waits; it is rewritten when finished entries outnumber the waiting ones.
// Returns the earliest next try left, 0 when nothing waits.
long long retry_pass(const char* rooted, const char* rooted_temp, long long now, RetryStep (*step)(RetryEntry* entry));
