// The batch: the spool taken over by a rename and worked through line by
// line. How far it has been worked is kept in a small cursor file beside it,
// replaced by a rename after each line, so no line costs more than its own
// bytes and a kill resends at most the line that was in flight.
#pragma once

#include <cstdio>

#include "spool_line.h"

struct BatchCursor {
    // Batch the cursor belongs to; 0 for the spool about to become the batch.
    unsigned long long ino;
    // Names the batch for good: inode numbers come back once a file is gone.
    unsigned long long id;
    long long offset; // bytes of the batch done
    // Start of a line whose newline was not in the previous batch: writers
    // that append a line in pieces may have put its rest in the next spool.
    int carry_len;
    bool cut; // the carried line was already longer than a line may be
    char carry[SPOOL_TEXT_LINE_SIZE];
};

// The cursor file's one line: inode, id, offset, cut flag, carry in hex ("-"
// when empty). Returns the length, or -1 when size is too small.
int format_cursor(const BatchCursor& cur, char* out, int size);
// False for a line that does not parse; *cur is then empty.
bool parse_cursor(const char* text, BatchCursor* cur);
// An empty cursor when the file is missing or does not parse.
void load_cursor(const char* rooted, BatchCursor* cur);
int save_cursor(const char* rooted, const char* rooted_temp, const BatchCursor& cur);

enum class LineRead {
    Whole, // a line with its newline
    Tail,  // the bytes after the last newline: a line still being written
    End,   // nothing after the last newline
};

struct BatchLine {
    char text[SPOOL_TEXT_LINE_SIZE]; // newline kept, terminated
    int len;
    bool cut;      // longer than the line size: the rest up to the newline was dropped
    long long end; // batch offset after the line (after the tail for Tail)
};

// Reads the line at the cursor: its carry, then the batch from where batch
// stands (the caller seeks to cur.offset) up to a newline. A line keeps at
// most size - 1 bytes.
LineRead read_batch_line(FILE* batch, const BatchCursor& cur, int size, BatchLine* line);
