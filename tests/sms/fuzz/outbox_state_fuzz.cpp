// The outbox's own files in /tmp, which another program could have written:
// a cursor line and a retry queue entry parse within bounds, what parses
// comes back byte for byte, and an entry cut short does not parse; a batch
// read behind a carried line start never keeps more than a line holds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "retry_queue.h"
#include "spool_batch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    char out[RETRY_ENTRY_SIZE + 2 * SPOOL_TEXT_LINE_SIZE];
    BatchCursor cur, again;
    if (parse_cursor(text.c_str(), &cur)) {
        if (format_cursor(cur, out, sizeof out) < 0 || !parse_cursor(out, &again) || memcmp(&cur, &again, sizeof cur))
            abort();
    }
    RetryEntry entry, back;
    if (parse_retry_entry(text.c_str(), &entry) && entry.next >= 0 && entry.first >= 0 &&
        entry.next < 100000000000LL && entry.first < 100000000000LL) {
        if (format_retry_entry(entry, out, sizeof out) < 0 || !parse_retry_entry(out, &back) ||
            strcmp(entry.line, back.line) != 0)
            abort();
        // An entry cut short by a kill mid-write is never taken for a shorter one.
        out[strlen(out) - 1] = '\0';
        if (parse_retry_entry(out, &back))
            abort();
    }
    // The input as a batch behind a carried line start of its first bytes.
    memset(&cur, 0, sizeof cur);
    cur.carry_len = static_cast<int>(size < 64 ? size : 64);
    memcpy(cur.carry, data, cur.carry_len);
    FILE* batch = fmemopen(const_cast<uint8_t*>(data), size ? size : 1, "r");
    if (!batch)
        return 0;
    BatchLine line;
    while (read_batch_line(batch, cur, 100, &line) == LineRead::Whole) {
        if (line.len > 99 || line.text[line.len] != '\0')
            abort();
        cur.carry_len = 0;
    }
    fclose(batch);
    return 0;
}
