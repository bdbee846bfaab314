// Steps the GSM and CDMA halves share: reading a stored PDU through the gcom
// read script and taking its decoded fields into the inbox record.
#pragma once

#include <cstddef>

#include "inbox_message.h"

// First output line of the gcom read script: one PDU in hex.
constexpr int READ_OUTPUT_SIZE = 1024;
// One encoded PDU in hex, Ctrl-Z appended.
constexpr int PDU_TEXT_SIZE = 512;

// Builds the gcom read command for a slot; -1 when it does not fit.
int build_read_command(char* out, int size, int index, const char* script);
// Runs the gcom read script for a slot; 1 when it printed a PDU into output.
int read_stored_pdu(int index, const char* script, char* output, int size);

// A mode's decoders of the read script's PDU line: the unicode option's
// (returns 1, as a read of a printed PDU does) and the plain one.
struct StoredDecoders {
    int (*take_text)(const char* output, InboxMessage* msg);
    void (*take_stored)(const char* output, InboxMessage* msg);
};
// Reads the slot with script and decodes what it printed into msg; 1 when it
// printed something, 0 when it printed nothing.
int read_stored_message(int index, const char* script, const StoredDecoders& decoders, InboxMessage* msg);

// Reads the messages used and the capacity of the first memory from the
// storage query's answer line that starts with tag ("+CPMS:" or "$QCPMS:"),
// with or without the memory's quoted name in front; false when the answer
// holds no such line.
bool parse_storage_count(const char* answer, const char* tag, int* used, int* total);

// Copies a field a decoder filled, trusting no terminator: at most field
// bytes of text, cut to size, always terminated.
void copy_text(char* out, size_t size, const char* text, size_t field);
// Logs a decoded message (terminated fields) and hands it to the inbox record.
void take_decoded(InboxMessage* msg, const char* sca, const char* tpa, int pid, const char* text, const char* scts);

// Widest fields a mode's decoder fills: numbers, time stamp, text.
constexpr size_t DECODED_NUMBER_MAX = 32;
constexpr size_t DECODED_STAMP_MAX = 18;
constexpr size_t DECODED_TEXT_MAX = 256;
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
// take_decoded of the fields, each terminated first (never trusting the decoder's).
void take_decoded_fields(InboxMessage* msg, const DecodedFields& fields);
