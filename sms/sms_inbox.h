// The inbox: every message stored in the modem read, logged, recorded,
// deleted and handed to the command handler.
#pragma once

void recvmessage();
const char* format_scts(const char* stamp);
