// The inbox: every message stored in the modem read, logged, recorded,
// deleted and handed to the command handler.
#pragma once

void recvmessage();
const char* format_scts(const char* stamp);

// The inbox's handling of one received text of any length: log and journal
// line with the whole text, deletion at index (none when index is -1) and the
// command handler, as for every message.
void handle_received_text(int index, const char* sender, const char* stamp, const char* text);
