// Reading, deleting and sending messages in GSM or CDMA mode.
#pragma once

#include <cstddef>

// Inbox record fields: sender and time stamp 32 bytes, text 160 plus terminator.
constexpr int INBOX_SENDER_SIZE = 32;
constexpr int INBOX_STAMP_SIZE = 32;
constexpr int INBOX_TEXT_SIZE = 161;
// First output line of the gcom read script: one PDU in hex.
constexpr int READ_OUTPUT_SIZE = 1024;
// One encoded PDU in hex, Ctrl-Z appended.
constexpr int PDU_TEXT_SIZE = 512;

struct InboxMessage {
    char sender[INBOX_SENDER_SIZE];
    char stamp[INBOX_STAMP_SIZE];
    char text[INBOX_TEXT_SIZE];
};

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

// Builds the gcom read command for a slot; -1 when it does not fit.
int build_read_command(char* out, int size, int index, const char* script);
// Runs the gcom read script for a slot; 1 when it printed a PDU into output.
int read_stored_pdu(int index, const char* script, char* output, int size);
// Copies a field a decoder filled, trusting no terminator: at most field
// bytes of text, cut to size, always terminated.
void copy_text(char* out, size_t size, const char* text, size_t field);
// Logs a decoded message (terminated fields) and hands it to the inbox record.
void take_decoded(InboxMessage* msg, const char* sca, const char* tpa, int pid, const char* text, const char* scts);

// GSM half (unit gsm_sms).
int gsm_at_command(const char* cmd, char* response, int timeout, int wait_mode);
void gsm_sms_init();
int gsm_read_sms(int index, InboxMessage* msg);
// Decodes the PDU line a read script printed into msg.
void gsm_take_stored(const char* output, InboxMessage* msg);
void gsm_delete_sms(int index);
int gsm_send_sms(const char* number, const char* text);

// CDMA half (unit cdma_sms).
int cdma_at_command(const char* cmd, char* response, int timeout, int wait_mode);
void cdma_sms_init();
int cdma_read_sms(int index, InboxMessage* msg);
void cdma_take_stored(const char* output, InboxMessage* msg);
void cdma_delete_sms(int index);
int cdma_send_sms(const char* number, const char* text);
