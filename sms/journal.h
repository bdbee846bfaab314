// The SMS record "/etc/config/sms_record": a journal of what was received
// and sent, one line an event, that only grows.
#pragma once

#include "inbox_message.h"

// One journal line; longer lines are cut.
constexpr int RECORD_LINE_SIZE = 512;

void record_received(const InboxMessage* msg);
// The "Received SMS" line of a text of any length.
void record_received_text(const char* sender, const char* text);
// The line of a message without a sender: what was read, the PDU included.
void record_undeliverable(const InboxMessage* msg, const char* pdu);
void record_sent(const char* number, const char* text);
// Appends one line; a line cut at RECORD_LINE_SIZE still ends in a newline.
void append_record_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
