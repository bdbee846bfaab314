// The inbox scan and its SMS record journal lines.
#pragma once

#include "inbox_message.h"

void recvmessage();
void record_received(const InboxMessage* msg);
// The journal line of a message without a sender: what was read, the PDU included.
void record_undeliverable(const InboxMessage* msg);
const char* format_scts(const char* stamp);

// The inbox's handling of one received text of any length: log and journal
// line with the whole text, deletion at index (none when index is -1) and the
// command handler, as for every message.
void handle_received_text(int index, const char* sender, const char* stamp, const char* text);
// The "Received SMS" journal line of a text of any length.
void record_received_text(const char* sender, const char* text);
