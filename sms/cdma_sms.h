// CDMA half of the SMS manager: the vendor's $Q commands and AT^HCMGS.
#pragma once

#include "inbox_message.h"
#include "sms_manager.h"

int cdma_at_command(const char* cmd, char* response, int timeout, int wait_mode);
void cdma_sms_init();
int cdma_read_sms(int index, InboxMessage* msg);
// Decodes the PDU line a read script printed into msg.
void cdma_take_stored(const char* output, InboxMessage* msg);
void cdma_delete_sms(int index);
// Messages in the reading store and its capacity; false when the modem did not say.
bool cdma_count_sms(int* used, int* total);
// What became of the message: Sent once the modem took it.
SendReport cdma_send_sms(const char* number, const char* text);
