// Submitting one PDU, the same way in both modes: the length command, the
// PDU only once the modem's "> " prompt asks for it, then the modem's verdict.
#pragma once

#include "sms_manager.h"

// How one mode submits: its exchange front end, its descriptor and answer
// buffer, its time-outs and what its verdict looks like.
struct SubmitMode {
    int (*exchange)(const char* cmd, char* response, int timeout, int wait_mode);
    int fd;
    char* response;
    int length_timeout;
    int pdu_timeout;
    int pdu_until; // AT_UNTIL_FINAL or AT_UNTIL_REPORT
    // Lines that show the modem took the PDU although its verdict did not
    // come in time (null-terminated list of line beginnings).
    const char* const* taken;
};

// Where a submission ended; the caller logs its own lines from it.
enum class SubmitStep {
    LengthNotWritten, // the length command could not be written
    NoPrompt,         // no prompt in time: cancelled, the PDU never written
    LengthRefused,    // the length command was answered with an error
    PduNotWritten,    // the prompt came but the PDU could not be written
    NoVerdict,        // the PDU was written, no verdict in time
    Refused,          // the modem refused the PDU
    Taken,            // the modem took it
};

// Runs one submission: length_cmd ("AT+CMGS=n\r"), then pdu (Ctrl-Z
// included). Fills report (outcome and the modem's answer).
SubmitStep submit_pdu(const SubmitMode& mode, const char* length_cmd, const char* pdu, SendReport* report);
