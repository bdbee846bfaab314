// GSM PDU-mode codecs: SMS-DELIVER decoding and SMS-SUBMIT encoding as hex text.
#pragma once

#include <cstdint>

// One GSM short message; every text field is zero-terminated.
struct ShortMessage {
    char sca[16];           // service centre digits, at most 15, no "+"
    char tpa[16];           // originating (decode) or destination (encode, optional "+") address
    unsigned char tp_pid;   // TP-PID octet
    unsigned char tp_dcs;   // 0 GSM 7-bit, 8 UCS2, anything else 8-bit data
    char scts[16];          // time stamp: 14 characters YYMMDDhhmmssZZ, semi-octets swapped
    char tp_ud[161];        // text: at most 160 characters
};

// Longest hex text gsm_encode_pdu writes, terminator included (SMSC 10, header 4,
// address 9, PID/DCS/VP/UDL 4 and 160 octets of 8-bit user data, two characters each).
constexpr int GSM_PDU_TEXT_MAX = 2 * 187 + 1;

// Decodes the hex text of SMSC information plus SMS-DELIVER TPDU into msg; every field
// is written and terminated. Text that ends early leaves the remaining fields empty.
// Returns the TP-UDL octet (0 when the text ends before it).
int gsm_decode_pdu(const char* pdu, ShortMessage* msg);

// The user data of a decoded DELIVER as it stands, for decoders that read it
// their own way (the header indicator of the first octet, the coding of TP-DCS).
struct GsmUserData {
    uint8_t first_octet;
    int udl;            // TP-UDL: septets for 7-bit data, octets otherwise
    int octet_count;    // octets read: ceil(7 * udl / 8) for DCS 0, udl otherwise, cut at the text's end
    uint8_t octets[255];
};

// Reads every field of a DELIVER but the text into msg (tp_ud left empty) and
// its user data into ud. Returns the TP-UDL octet (0 when the text ends before it).
int gsm_decode_fields(const char* pdu, ShortMessage* msg, GsmUserData* ud);

// Writes the SMSC information, first_octet, TP-MR 0 and the destination
// address of msg as hex into pdu. Returns the number of characters.
int gsm_encode_submit_head(const ShortMessage* msg, uint8_t first_octet, char* pdu);

// Writes one SMS-SUBMIT PDU of msg (zero-filled before its fields were set) as upper-case
// hex into pdu, which holds at least GSM_PDU_TEXT_MAX bytes. Returns the number of characters.
int gsm_encode_pdu(const ShortMessage* msg, char* pdu);

// The length AT+CMGS takes for a PDU hex text of hex_length characters: the
// TPDU octets, without the SMSC information that leads the PDU.
int gsm_tpdu_length(const char* pdu, int hex_length);

// Converts characters pairwise into octets until n characters are consumed (an odd n
// consumes one more). Stops early at a terminator. Returns n / 2.
int hex_to_octets(const char* text, uint8_t* out, int n);

// Writes 2n upper-case hex characters and a terminator. Returns 2n.
int octets_to_hex(const uint8_t* octets, int n, char* out);

// Writes n characters pairwise exchanged, with F completing an odd count, and a
// terminator; out holds n + 2 bytes. Returns n, or n + 1 when n is odd.
int swap_semi_octets(const char* digits, char* out, int n);

// Copies n characters pairwise exchanged, drops a trailing F and terminates; out holds
// n + 1 bytes. Stops early at a terminator. Returns the characters kept.
int unswap_semi_octets(const char* text, char* out, int n);

// Packs count characters (the last one the terminating zero that flushes the final
// octet) into GSM 7-bit octets. Returns the octets written.
int gsm_pack_7bit(const char* chars, int count, uint8_t* out);

// Unpacks n GSM 7-bit octets into one byte per septet plus a terminator; out holds
// n * 8 / 7 + 2 bytes. Returns the characters written.
int gsm_unpack_7bit(const uint8_t* octets, int n, char* out);

// Converts length bytes of UTF-8 into UCS-2 big-endian units; out holds 2 * length
// octets. A sequence cut by the end of the input is dropped. Returns the octets written.
int utf8_to_ucs2(const char* text, int length, uint8_t* out);
