// Reading, deleting and sending messages in GSM or CDMA mode: dispatches to
// the mode's half (gsm_sms.h, cdma_sms.h).
#pragma once

#include "inbox_message.h"

void sms_manager_init(int cdma_flag, int enabled);
// Reads the stored message at index into msg, decoded: 1 when the read
// script printed something, 0 when it printed nothing.
int sms_read(int index, StoredMessage* msg);
void sms_del(int index);
// Asks the modem how many messages its reading store holds (used) and how
// many it can (total); false when it did not say.
bool sms_count(int* used, int* total);
// What became of one send; the outbox decides from it whether a message may
// be tried again.
enum class SendOutcome {
    Sent,         // the modem confirmed the submission (every part of a long one)
    Refused,      // the modem answered with an error: safe to try again
    NotSubmitted, // the modem never took the PDU (no prompt, number refused): safe to try again
    Unconfirmed,  // a PDU was written but no final answer came: never sent again automatically
};
// The modem's last answer kept with a report, for the journal and the dead-letter file.
constexpr int SEND_ANSWER_SIZE = 64;
struct SendReport {
    SendOutcome outcome = SendOutcome::NotSubmitted;
    char answer[SEND_ANSWER_SIZE] = {};
};
// Sends text to number and says what became of it. A number that
// bad_number_byte refuses is never sent.
SendReport sms_send_report(const char* number, const char* text);
// Non-zero when the message was handed to the modem (sms_send_report said Sent).
int sms_send(const char* number, const char* text);
// Position of the first byte of number the mode's encoder must not get, -1
// for a clean number: an optional leading "+" and digits in GSM mode, the
// DTMF digits, "*" and "#" in CDMA mode. An empty number is refused at 0.
int bad_number_byte(const char* number);
