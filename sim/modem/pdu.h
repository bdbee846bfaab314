// The simulated modem's own PDU builder and parser: SMS-DELIVER PDUs as a GSM
// modem stores received messages, CDMA transport-layer deliver messages, and
// the parsing of what a host submits, so the host's encoders are checked
// against an independent reading of the formats.
#pragma once

#include <string>

#include "text_codec.h"

struct SmsTime {
    int year = 0; // two digits
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int tz_quarters = 0; // signed, quarters of an hour from UTC
};

// "YY/MM/DD,hh:mm:ss" with an optional "+zz"/"-zz" zone in quarter hours
// (the AT+CCLK form).
bool parse_sms_time(const std::string& text, SmsTime& out);
SmsTime sms_time_now();

struct DeliverRequest {
    std::string smsc;    // service centre for the GSM SMSC field; empty writes 00
    std::string from;    // "+digits", digits, or an alphanumeric sender (GSM)
    std::string text;    // UTF-8
    bool ucs2 = false;   // force UCS2/Unicode even when GSM-7/ASCII would do
    SmsTime time;
    unsigned msg_id = 1; // CDMA message identifier
    // One part of a concatenated message: a 05 00 03 user data header with
    // reference, total and sequence number in front of the text; ref -1: none.
    int concat_ref = -1;
    int concat_total = 0;
    int concat_seq = 0;
    bool concat_ref16 = false; // a 06 08 04 header with a 16-bit reference instead
};

// "REF/TOTAL/SEQ" of --concat.
bool parse_concat(const std::string& text, DeliverRequest& req);

struct SubmittedMessage {
    std::string number; // destination as the host addressed it ("+" kept)
    std::string text;   // UTF-8
    // Concatenation element of the user data header (0x00 or 0x08); total 0: none.
    int concat_ref = 0;
    int concat_total = 0;
    int concat_seq = 0;
};

// Hex text (upper case) of SMSC information and SMS-DELIVER TPDU.
bool build_gsm_deliver(const DeliverRequest& req, std::string& hex, std::string& err);
// The DELIVER PDUs of a text as a phone sends it: one when it fits, else
// parts of 153 GSM-7 septets or 67 UTF-16 units (an escape or surrogate pair
// kept whole) under req.concat_ref (req.concat_ref16 as for one part);
// req.concat_total and concat_seq are ignored.
bool build_gsm_deliver_parts(const DeliverRequest& req, std::vector<std::string>& hexes, std::string& err);
// Checks and decodes an SMS-SUBMIT sent after AT+CMGS=<tpdu_len>.
bool parse_gsm_submit(const std::string& hex, long tpdu_len, SubmittedMessage& out, std::string& err);
// TPDU length of a stored GSM PDU (what +CMGR reports), -1 when malformed.
long gsm_tpdu_length(const std::string& hex);

struct CdmaMessage {
    int msg_type = -1;      // transport message type
    int teleservice = -1;
    int address_param = -1; // 2 originating, 4 destination
    std::string address;
    int bearer_type = -1;   // 1 deliver, 2 submit
    int msg_id = -1;
    int encoding = -1;
    std::string text;       // UTF-8
    std::string timestamp;  // BCD octets as 12 digits, empty when absent
};

// Hex text (lower case) of a point-to-point deliver message.
bool build_cdma_deliver(const DeliverRequest& req, std::string& hex, std::string& err);
// Walks a whole transport-layer message, checking every length.
bool parse_cdma_message(const Bytes& octets, CdmaMessage& out, std::string& err);
// Checks and decodes a submit message sent after AT^HCMGS=<length>.
bool parse_cdma_submit(const std::string& hex, long length, SubmittedMessage& out, std::string& err);
