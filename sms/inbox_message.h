// One message read from the modem's store, as the inbox, the command handler
// and the journal see it.
#pragma once

// Inbox record fields: sender and time stamp 32 bytes, text 160 plus terminator.
constexpr int INBOX_SENDER_SIZE = 32;
constexpr int INBOX_STAMP_SIZE = 32;
constexpr int INBOX_TEXT_SIZE = 161;

struct InboxMessage {
    char sender[INBOX_SENDER_SIZE];
    char stamp[INBOX_STAMP_SIZE];
    char text[INBOX_TEXT_SIZE];
};
