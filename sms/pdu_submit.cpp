#include "pdu_submit.h"

#include <cstdio>
#include <cstring>

#include "at_channel.h"
#include "log.h"
#include "shown_text.h"

constexpr char LOG_UNIT[] = "pdu_submit.cpp";

namespace {

SubmitStep settle(SendReport* report, SendOutcome outcome, SubmitStep step, const char* answer)
{
    report->outcome = outcome;
    snprintf(report->answer, sizeof report->answer, "%s", answer);
    return step;
}

} // namespace

SubmitStep submit_pdu(const SubmitMode& mode, const char* length_cmd, const char* pdu, SendReport* report)
{
    char line[SEND_ANSWER_SIZE] = {};
    // A modem that stalled answers later what it was sent before: a prompt
    // left over from an earlier attempt must not be taken for this one's.
    drop_stale_input(mode.fd);
    if (mode.exchange(length_cmd, mode.response, mode.length_timeout, AT_UNTIL_PROMPT) != 0)
        return settle(report, SendOutcome::NotSubmitted, SubmitStep::LengthNotWritten, "modem not writable");
    if (!prompt_waiting(mode.response)) {
        if (at_final_result(mode.response, line, sizeof line) == AtResult::Error) {
            LOG(LOG_ERROR, "Error： %s refused: %s", Shown(length_cmd).c_str(), Shown(line).c_str());
            return settle(report, SendOutcome::Refused, SubmitStep::LengthRefused, line);
        }
        // The prompt may still be on its way: the ESC makes sure the modem
        // takes nothing written later as this message.
        cancel_pending_submission(mode.fd);
        LOG(LOG_ERROR, "Error： no prompt for %s within %d s, cancelled", Shown(length_cmd).c_str(),
            mode.length_timeout);
        snprintf(line, sizeof line, "no prompt within %d s", mode.length_timeout);
        return settle(report, SendOutcome::NotSubmitted, SubmitStep::NoPrompt, line);
    }
    if (mode.exchange(pdu, mode.response, mode.pdu_timeout, mode.pdu_until) != 0)
        return settle(report, SendOutcome::NotSubmitted, SubmitStep::PduNotWritten, "modem not writable");
    AtResult verdict = mode.pdu_until == AT_UNTIL_REPORT ? cdma_submit_report(mode.response, line, sizeof line)
                                                         : at_final_result(mode.response, line, sizeof line);
    if (verdict == AtResult::Ok)
        return settle(report, SendOutcome::Sent, SubmitStep::Taken, line);
    if (verdict == AtResult::Error) {
        LOG(LOG_ERROR, "Error： modem refused the PDU: %s", Shown(line).c_str());
        return settle(report, SendOutcome::Refused, SubmitStep::Refused, line);
    }
    for (const char* const* taken = mode.taken; *taken; ++taken) {
        if (const char* found = find_line(mode.response, *taken)) {
            snprintf(line, sizeof line, "%.*s", static_cast<int>(strcspn(found, "\r\n")), found);
            return settle(report, SendOutcome::Sent, SubmitStep::Taken, line);
        }
    }
    // The modem has the PDU and may still send it: trying again could
    // deliver it twice, so it is left as unconfirmed.
    LOG(LOG_ERROR, "Error： no verdict on the PDU within %d s, unconfirmed: %s", mode.pdu_timeout,
        Shown(mode.response).c_str());
    cancel_pending_submission(mode.fd);
    snprintf(line, sizeof line, "no verdict within %d s", mode.pdu_timeout);
    return settle(report, SendOutcome::Unconfirmed, SubmitStep::NoVerdict, line);
}
