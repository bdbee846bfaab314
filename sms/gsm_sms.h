// GSM half of the SMS manager: PDU-mode commands on the GSM AT port.
#pragma once

#include "inbox_message.h"
#include "sms_manager.h"

int gsm_at_command(const char* cmd, char* response, int timeout, int wait_mode);
void gsm_sms_init();
int gsm_read_sms(int index, StoredMessage* msg);
// Decodes the PDU line a read script printed (msg->pdu) into msg: with
// whole_text (the unicode option) the whole text as UTF-8 and its
// concatenation header, else the decoder's text cut to 160 bytes.
void gsm_decode_stored(StoredMessage* msg, bool whole_text);
void gsm_delete_sms(int index);
// Messages in the reading store and its capacity; false when the modem did not say.
bool gsm_count_sms(int* used, int* total);
// What became of the message: Sent once the modem took every part of it.
SendReport gsm_send_sms(const char* number, const char* text);
