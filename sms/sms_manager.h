// Reading, deleting and sending messages in GSM or CDMA mode: dispatches to
// the mode's half (gsm_sms.h, cdma_sms.h).
#pragma once

#include "inbox_message.h"

void sms_manager_init(int cdma_flag, int enabled);
// 1 when the read script printed something, 0 when it printed nothing.
int sms_read(int index, InboxMessage* msg);
void sms_del(int index);
// Non-zero when the message was handed to the modem. A number that
// bad_number_byte refuses is never sent.
int sms_send(const char* number, const char* text);
// Position of the first byte of number the mode's encoder must not get, -1
// for a clean number: an optional leading "+" and digits in GSM mode, the
// DTMF digits, "*" and "#" in CDMA mode. An empty number is refused at 0.
int bad_number_byte(const char* number);
