// Remote commands by SMS from authorised numbers.
#pragma once

#include "sms_config.h"
#include "inbox_message.h"

// Reply text and the command line of script actions.
constexpr int REPLY_SIZE = 160;
// Number a reply goes to: the sender, with a "+" in front when fixplus is on.
constexpr int REPLY_NUMBER_SIZE = 32;
constexpr int REPLY_NUMBER_MAX = 30;
// The acknowledgement "command: <text>, succeed", terminator included.
constexpr int ACK_SIZE = 128;

// Returns 0, or -2 when the text is no command (or a refused argument).
int cmd_handling(const InboxMessage* msg);
// The slot whose keyword the text matches, or -1.
int match_command(const InboxMessage* msg, const SmsConfig* config);
// Writes the reply number ("+" in front when fixplus is 1) into out
// (REPLY_NUMBER_SIZE bytes); false when it is longer than REPLY_NUMBER_MAX.
bool build_reply_number(char* out, const char* number, int fixplus);
// True when the operator-selection argument holds only what an operator code
// needs (letters, digits, blanks), so it cannot reach the shell as anything else.
bool operator_argument_safe(const char* argument);
