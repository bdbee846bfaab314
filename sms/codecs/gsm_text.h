// GSM messages as phones write them: text in UTF-8 through the default
// alphabet or UCS2, and long texts as concatenated parts with a user data header.
#pragma once

#include <cstdint>

#include "gsm_pdu.h"

// UTF-8 text of one decoded part, terminator included: 255 septets of
// two-byte characters at most (TP-UDL is one octet).
constexpr int GSM_TEXT_UTF8_SIZE = 512;
// Parts one outgoing text is sent in at most; the rest is cut.
constexpr int GSM_SEND_PARTS_MAX = 6;
// Characters of one message without a header, and of one part with one.
constexpr int GSM_SEPTETS_SINGLE = 160;
constexpr int GSM_SEPTETS_PART = 153;
constexpr int GSM_UCS2_UNITS_SINGLE = 70;
constexpr int GSM_UCS2_UNITS_PART = 67;
// Longest outgoing text taken, in bytes: six full parts of 4-byte characters.
constexpr int GSM_SEND_TEXT_MAX = 2048;

// Concatenation information element of a user data header.
struct ConcatHeader {
    int ref;   // 8-bit (element 0x00) or 16-bit (element 0x08) reference
    int total; // parts announced; 0 when the message carries no such element
    int part;  // this part's number, counted from 1
};

enum class GsmAlphabet { Septets, Octets, Ucs2 };

// The alphabet TP-DCS selects: general coding groups, message-waiting groups
// and the data coding/message class group. Compressed text reads as octets.
GsmAlphabet gsm_dcs_alphabet(uint8_t dcs);

// Finds the concatenation element in a user data header of n octets (its
// length octet first). Returns the header's size with its length octet, or -1
// when it runs past the user data; concat->total stays 0 without an element.
int gsm_parse_udh(const uint8_t* ud, int n, ConcatHeader* concat);

// Decodes a DELIVER like gsm_decode_pdu, but the text goes into text (size
// bytes) as UTF-8, the header taken out and read into concat; msg->tp_ud is
// left empty. Returns the text's length in bytes.
int gsm_decode_text(const char* pdu, ShortMessage* msg, char* text, int size, ConcatHeader* concat);

// The SUBMIT PDUs of one text, in hex, each with its AT+CMGS length.
struct GsmSubmitParts {
    int count;
    int dropped; // characters cut beyond GSM_SEND_PARTS_MAX parts
    int tpdu_length[GSM_SEND_PARTS_MAX];
    char pdu[GSM_SEND_PARTS_MAX][GSM_PDU_TEXT_MAX];
};

// Encodes text (UTF-8, at most GSM_SEND_TEXT_MAX bytes taken) to number: in
// the GSM alphabet when every character has a septet form, else in UCS2; in
// one PDU when it fits, else in parts of 153 septets or 67 units under the
// 8-bit reference ref. Returns the number of parts.
int gsm_encode_text(const char* number, const char* text, uint8_t ref, GsmSubmitParts* out);
