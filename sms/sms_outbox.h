// The outbox spool and the SMS record journal it writes.
#pragma once

#include "brenlow_state.h"

// Line buffer of the spool: longer lines are taken in parts.
constexpr int SPOOL_LINE_SIZE = 512;
// Sends of one spool line before it is given up and moved to "/tmp/sms_failed".
constexpr int SPOOL_SEND_ATTEMPTS = 3;
// One journal line; longer lines are cut.
constexpr int RECORD_LINE_SIZE = 512;

struct SpoolLine {
    char number[SPOOL_NUMBER_SIZE]; // 1 to 16 characters
    char text[SMS_TEXT_SIZE];       // only the first 160 bytes are sent
    int comma; // position of the first comma: the number's length
};

enum class SpoolParse { Ok, NoComma, BadNumber };

// Splits one spool line at its first comma. The text keeps its newline.
SpoolParse parse_spool_line(const char* line, SpoolLine* out);

// One pass over the spool. A line that was sent, refused or given up leaves
// "/tmp/sms_sending" at once; a failed one heads it for the next pass.
void sendmessage();
void record_sent(const char* number, const char* text);
// Appends one line to the SMS record; a line cut at RECORD_LINE_SIZE still
// ends in a newline.
void append_record_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
