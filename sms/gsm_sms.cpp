// GSM half of the SMS manager: PDU-mode commands of 3GPP TS 27.005.
#include "gsm_sms.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "at_channel.h"
#include "brenlow_state.h"
#include "gsm_pdu.h"
#include "gsm_text.h"
#include "log.h"
#include "pdu_submit.h"
#include "sms_config.h"
#include "stored_pdu.h"

constexpr char LOG_UNIT[] = "gsm_sms.cpp";

namespace {

SendReport gsm_submit_pdu(char* pdu, int hex_length);

// Longest number the SMS-SUBMIT destination field holds (a leading "+" included).
constexpr size_t GSM_NUMBER_MAX = sizeof(ShortMessage::tpa) - 1;
constexpr size_t GSM_TEXT_MAX = sizeof(ShortMessage::tp_ud) - 1;
// The message reference: the modem took the PDU, even if its OK is late.
constexpr const char* GSM_TAKEN_LINES[] = {"+CMGS:", nullptr};

SendReport gsm_send_pdumessage(ShortMessage* sm)
{
    LOG(LOG_DEBUG, "Debug： starting gsm_send_pdumessage");
    static_assert(PDU_TEXT_SIZE >= GSM_PDU_TEXT_MAX + 1, "PDU buffer must hold the PDU and Ctrl-Z");
    char pdu[PDU_TEXT_SIZE] = {};
    int hex_length = gsm_encode_pdu(sm, pdu);
    return gsm_submit_pdu(pdu, hex_length);
}

// Announces and writes one PDU hex text held in a PDU_TEXT_SIZE buffer (room
// for the Ctrl-Z it appends).
SendReport gsm_submit_pdu(char* pdu, int hex_length)
{
    SendReport report;
    int end = static_cast<int>(strlen(pdu));
    if (end + 1 >= PDU_TEXT_SIZE)
        return report;
    // Anything but hex would reach the modem as commands of its own.
    if (!hex_only(pdu, end)) {
        LOG(LOG_ERROR, "Error： PDU is not hex, not sent");
        return report;
    }
    pdu[end] = 0x1A;
    pdu[end + 1] = '\0';
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+CMGS=%d\r", gsm_tpdu_length(pdu, hex_length));
    LOG(LOG_DEBUG, "Debug： pdu:%s", pdu);
    LOG(LOG_DEBUG, "Debug： cmd :%s", cmd);
    const SubmitMode mode = {gsm_at_command, brenlow.gsm_fd, brenlow.gsm_response, 5, 15, AT_UNTIL_FINAL,
                             GSM_TAKEN_LINES};
    switch (submit_pdu(mode, cmd, pdu, &report)) {
    case SubmitStep::LengthNotWritten:
        LOG(LOG_ERROR, "Error： send sms cmd error %s, pdu=%s", cmd, pdu);
        break;
    case SubmitStep::PduNotWritten:
        LOG(LOG_ERROR, "Error： send sms pdu error %s, pdu=%s", cmd, pdu);
        break;
    default:
        break;
    }
    return report;
}

// Reference of the last text sent in parts; starts from the clock so that a
// restarted daemon is unlikely to reuse the one a phone still holds parts of.
uint8_t last_concat_ref = static_cast<uint8_t>(time(nullptr));

// The unicode option's send: the GSM alphabet or UCS2, in up to six parts,
// each its own AT+CMGS; the send ends at the first part the modem does not take.
SendReport gsm_send_text(const char* number, const char* text)
{
    GsmSubmitParts parts;
    int count = gsm_encode_text(number, text, ++last_concat_ref, &parts);
    if (parts.dropped > 0)
        LOG(LOG_ERROR, "Error： message to %s longer than %d parts: %d characters dropped", number, GSM_SEND_PARTS_MAX,
            parts.dropped);
    static_assert(PDU_TEXT_SIZE >= GSM_PDU_TEXT_MAX + 1, "PDU buffer must hold the PDU and Ctrl-Z");
    SendReport report;
    for (int p = 0; p < count; ++p) {
        LOG(LOG_DEBUG, "Debug： starting gsm_send_pdumessage, part %d of %d", p + 1, count);
        char pdu[PDU_TEXT_SIZE] = {};
        size_t hex_length = strnlen(parts.pdu[p], GSM_PDU_TEXT_MAX);
        memcpy(pdu, parts.pdu[p], hex_length);
        report = gsm_submit_pdu(pdu, static_cast<int>(hex_length));
        if (report.outcome != SendOutcome::Sent) {
            if (count > 1) {
                // The part is named first; a long answer loses its end.
                char answer[SEND_ANSWER_SIZE + 40];
                snprintf(answer, sizeof answer, "part %d of %d: %s", p + 1, count, report.answer);
                copy_text(report.answer, sizeof report.answer, answer, sizeof answer);
            }
            return report;
        }
    }
    return report;
}

} // namespace

int gsm_at_command(const char* cmd, char* response, int timeout, int wait_mode)
{
    LOG(LOG_DEBUG, "Debug： Comand %s", cmd ? cmd : "");
    return at_command(brenlow.gsm_fd, cmd, response, timeout, wait_mode);
}

void gsm_sms_init()
{
    if (gsm_at_command("AT+CMGF=0\r", brenlow.gsm_response, 2, AT_QUIET_STOP) != 0)
        LOG(LOG_ERROR, "Error： error CMGF no response");
    if (gsm_at_command("AT+CPMS=\"SM\",\"ME\",\"SM\"\r", brenlow.gsm_response, 3, AT_QUIET_STOP) != 0)
        LOG(LOG_ERROR, "Error： error CPMS no response");
    if (gsm_at_command("AT+CNMI=2,1\r", brenlow.gsm_response, 3, AT_QUIET_STOP) != 0)
        LOG(LOG_ERROR, "Error： error CNMI no response");
}

int gsm_read_sms(int index, StoredMessage* msg)
{
    if (!read_stored_pdu(index, "/etc/gcom/read_sms.gcom", msg->pdu, sizeof msg->pdu))
        return 0;
    gsm_decode_stored(msg, get_sms_config()->unicode == 1);
    return 1;
}

void gsm_decode_stored(StoredMessage* msg, bool whole_text)
{
    ShortMessage sm;
    memset(&sm, 0, sizeof sm);
    msg->concat = ConcatHeader{};
    if (whole_text)
        gsm_decode_text(msg->pdu, &sm, msg->text, sizeof msg->text, &msg->concat);
    else
        gsm_decode_pdu(msg->pdu, &sm);
    take_decoded(msg, sm, whole_text);
}

void gsm_delete_sms(int index)
{
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+CMGD=%d\r", index);
    gsm_at_command(cmd, brenlow.gsm_response, 5, AT_QUIET_STOP);
}

bool gsm_count_sms(int* used, int* total)
{
    gsm_at_command("AT+CPMS?\r", brenlow.gsm_response, 3, AT_QUIET_STOP);
    return parse_storage_count(brenlow.gsm_response, "+CPMS:", used, total);
}

SendReport gsm_send_sms(const char* number, const char* text)
{
    // A number the destination field cannot hold would be cut into another number.
    if (strlen(number) > GSM_NUMBER_MAX) {
        LOG(LOG_ERROR, "Error： destination number too long: %s", number);
        SendReport refused;
        snprintf(refused.answer, sizeof refused.answer, "number too long");
        return refused;
    }
    if (get_sms_config()->unicode == 1)
        return gsm_send_text(number, text);
    ShortMessage sm;
    memset(&sm, 0, sizeof sm);
    copy_text(sm.tpa, sizeof sm.tpa, number, GSM_NUMBER_MAX);
    size_t len = strnlen(text, GSM_TEXT_MAX);
    memcpy(sm.tp_ud, text, len);
    return gsm_send_pdumessage(&sm);
}
