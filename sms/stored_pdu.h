// Steps the GSM and CDMA halves share: reading a stored PDU through the gcom
// read script and taking its decoded fields into the message.
#pragma once

#include <cstddef>

#include "inbox_message.h"

// One encoded PDU in hex, Ctrl-Z appended.
constexpr int PDU_TEXT_SIZE = 512;

// Builds the gcom read command for a slot; -1 when it does not fit.
int build_read_command(char* out, int size, int index, const char* script);
// Runs the gcom read script for a slot; 1 when it printed a PDU into output.
int read_stored_pdu(int index, const char* script, char* output, int size);

// Reads the messages used and the capacity of the first memory from the
// storage query's answer line that starts with tag ("+CPMS:" or "$QCPMS:"),
// with or without the memory's quoted name in front; false when the answer
// holds no such line.
bool parse_storage_count(const char* answer, const char* tag, int* used, int* total);

// Copies a field a decoder filled, trusting no terminator: at most field
// bytes of text, cut to size, always terminated.
void copy_text(char* out, size_t size, const char* text, size_t field);

// Widest fields a mode's decoder fills: numbers, time stamp, text.
constexpr size_t DECODED_NUMBER_MAX = 32;
constexpr size_t DECODED_STAMP_MAX = 18;
constexpr size_t DECODED_TEXT_MAX = GSM_TEXT_UTF8_SIZE;
// A decoder's fields as it left them: each up to its size, perhaps unterminated.
struct DecodedFields {
    const char* sca;
    size_t sca_size;
    const char* tpa;
    size_t tpa_size;
    const char* scts;
    size_t scts_size;
    const char* text;
    size_t text_size;
    int pid;
};
// Logs a decoded message and takes its number and time stamp into msg, each
// field terminated first (never trusting the decoder's).
void take_decoded_fields(StoredMessage* msg, const DecodedFields& fields);

// Takes a mode's decoded record (ShortMessage, CdmaShortMessage) into msg;
// with whole_text the text is in msg already, else it is the record's, cut to
// an inbox record's 160 bytes.
template <typename Record>
void take_decoded(StoredMessage* msg, const Record& sm, bool whole_text)
{
    static_assert(sizeof sm.sca <= DECODED_NUMBER_MAX && sizeof sm.tpa <= DECODED_NUMBER_MAX &&
                      sizeof sm.scts <= DECODED_STAMP_MAX && sizeof sm.tp_ud <= DECODED_TEXT_MAX,
                  "every decoded field must reach the inbox whole");
    const char* text = whole_text ? msg->text : sm.tp_ud;
    size_t text_size = whole_text ? sizeof msg->text : sizeof sm.tp_ud;
    take_decoded_fields(msg, {sm.sca, sizeof sm.sca, sm.tpa, sizeof sm.tpa, sm.scts, sizeof sm.scts, text, text_size,
                              sm.tp_pid});
    if (!whole_text)
        copy_text(msg->text, INBOX_TEXT_SIZE, sm.tp_ud, sizeof sm.tp_ud);
}
