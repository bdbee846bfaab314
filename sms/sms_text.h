// The unicode option's inbox: stored messages read as UTF-8 text of any
// length with their concatenation header, and long messages joined before
// they are handled.
#pragma once

#include "inbox_message.h"

// Decode the read script's PDU text into msg (its text cut on a character
// boundary) and keep the whole text and the header for inbox_take_text.
// Return 1, as the read operations do for a printed PDU.
int gsm_take_text_pdu(const char* pdu, InboxMessage* msg);
int cdma_take_text_pdu(const char* pdu, InboxMessage* msg);

// Handles the message just read at index the option's way: a whole message
// at once, a part held (and deleted from the modem once it is kept), a
// completed message joined. Returns 0 when nothing was kept for it, so the
// inbox handles msg as ever.
int inbox_take_text(int index, const InboxMessage* msg);
// Handles the held messages whose missing parts are overdue; once a pass.
void inbox_flush_due_parts();
