// Long messages of the unicode option: their parts held in a file until the
// whole message has arrived, then joined.
#pragma once

#include "inbox_message.h"
#include "sms_concat.h"

// Takes a message read from the store: true with the whole message in out
// (one that is no part, the message the part completes, or a part that
// cannot be held, alone); false when the part is held, on file, so that it
// may leave the modem.
bool join_message(const StoredMessage* msg, JoinedMessage* out);
// A held message due to be handled with the parts it has: missing parts
// overdue, or in the way of incoming for lack of room (null at the start of
// a pass). Nothing is due for an incoming message that is no part.
bool join_take_due(const StoredMessage* incoming, JoinedMessage* out);
// The held parts to their file, once the message taken out of them was
// handled: a restart in between handles it again rather than losing it.
void join_handled();
