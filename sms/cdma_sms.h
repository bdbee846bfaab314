// CDMA half of the SMS manager: the vendor's $Q commands and AT^HCMGS.
#pragma once

#include "inbox_message.h"
#include "sms_manager.h"

int cdma_at_command(const char* cmd, char* response, int timeout, int wait_mode);
void cdma_sms_init();
int cdma_read_sms(int index, StoredMessage* msg);
// Decodes the PDU line a read script printed (msg->pdu) into msg, as
// gsm_decode_stored does; the time stamp's BCD octets become their digits.
void cdma_decode_stored(StoredMessage* msg, bool whole_text);
void cdma_delete_sms(int index);
// Messages in the reading store and its capacity; false when the modem did not say.
bool cdma_count_sms(int* used, int* total);
// What became of the message: Sent once the modem took it.
SendReport cdma_send_sms(const char* number, const char* text);
