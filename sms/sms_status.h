// brenlow's status file: what the web interface and a person at a shell see
// of the modem, the signal and the outbox (keys in openwrt/status-files.md).
#pragma once

#include <ctime>

// The modem's answer to the AT exchange that just ended (empty: none came).
void status_note_modem_answer(const char* response);
void status_note_strength(int reading);
void status_note_sent();
void status_note_received();
// Publishes the status when a second has passed since the last look.
void sms_status_publish(int module_index);
