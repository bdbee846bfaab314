// One message read from the modem's store: as the read decodes it and hands
// it down the inbox, and as the command handler and the journal see it.
#pragma once

#include "gsm_text.h"

// Inbox record fields: sender and time stamp 32 bytes, text 160 plus terminator.
constexpr int INBOX_SENDER_SIZE = 32;
constexpr int INBOX_STAMP_SIZE = 32;
constexpr int INBOX_TEXT_SIZE = 161;
// First output line of the gcom read script: one PDU in hex.
constexpr int READ_OUTPUT_SIZE = 1024;

struct InboxMessage {
    char sender[INBOX_SENDER_SIZE];
    char stamp[INBOX_STAMP_SIZE];
    char text[INBOX_TEXT_SIZE];
};

// A stored message as the read gives it.
struct StoredMessage {
    char sender[INBOX_SENDER_SIZE];
    // The time stamp as text in both modes: YYMMDDhhmmss, then (GSM) the zone.
    char stamp[INBOX_STAMP_SIZE];
    // With the unicode option the whole text as UTF-8, else the decoder's text
    // cut to an inbox record's 160 bytes.
    char text[GSM_TEXT_UTF8_SIZE];
    // A part of a long message; total 0 (always, without the option): none.
    ConcatHeader concat;
    // What the read script printed, for the journal of a message without a sender.
    char pdu[READ_OUTPUT_SIZE];
};
