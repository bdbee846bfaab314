// The outbox spool, the inbox scan and the SMS record journal.
#pragma once

#include "brenlow_state.h"
#include "sms_manager.h"

// Line buffer of the spool: longer lines are taken in parts.
constexpr int SPOOL_LINE_SIZE = 512;
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

void sendmessage();
void recvmessage();
void record_received(const InboxMessage* msg);
void record_sent(const char* number, const char* text);
const char* format_scts(const char* stamp);
