// The outbox spool and the SMS record journal it writes.
#pragma once

#include "brenlow_state.h"

// Line buffer of the spool: longer lines are cut (without the unicode
// option; with it a line holds SPOOL_TEXT_LINE_SIZE bytes, see spool_batch.h).
constexpr int SPOOL_LINE_SIZE = 512;
// Bytes of a spool text sent without the unicode option.
constexpr int SPOOL_SHORT_TEXT_MAX = SMS_TEXT_SIZE - 1;
// One journal line; longer lines are cut.
constexpr int RECORD_LINE_SIZE = 512;

struct SpoolLine {
    char number[SPOOL_NUMBER_SIZE]; // 1 to 16 characters
    char text[SPOOL_TEXT_SIZE];     // at most text_max bytes of parse_spool_line
    int comma; // position of the first comma: the number's length
};

enum class SpoolParse { Ok, NoComma, BadNumber };

// Splits one spool line at its first comma. The text keeps its newline and
// is cut after text_max bytes.
SpoolParse parse_spool_line(const char* line, SpoolLine* out, int text_max = SPOOL_SHORT_TEXT_MAX);

// One pass over the outbox: the refused messages whose next try has come,
// then the batch (the spool taken over) line by line. A line is sent once its
// newline has arrived; a refused one waits in the retry queue without
// holding up the lines behind it.
void sendmessage();
void record_sent(const char* number, const char* text);
// Appends one line to the SMS record; a line cut at RECORD_LINE_SIZE still
// ends in a newline.
void append_record_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
