// CDMA half of the SMS manager: the vendor's $Q commands and AT^HCMGS.
#include "cdma_sms.h"

#include <cstdio>
#include <cstring>

#include "at_channel.h"
#include "brenlow_state.h"
#include "cdma_pdu.h"
#include "cdma_text.h"
#include "log.h"
#include "pdu_submit.h"
#include "shown_text.h"
#include "sms_config.h"
#include "stored_pdu.h"

constexpr char LOG_UNIT[] = "cdma_sms.cpp";

namespace {

// The destination field is a zero-terminated text: leave room for the terminator.
constexpr size_t CDMA_NUMBER_MAX = sizeof(CdmaShortMessage::tpa) - 1;
// Only the first 160 bytes of a text are sent.
constexpr size_t CDMA_TEXT_MAX = 160;

// The acceptance, or the OK after it: the modem took the PDU although its
// network report did not come in time.
constexpr const char* CDMA_TAKEN_LINES[] = {"^HCMGS:", "OK", nullptr};

SendReport cdma_send_pdumessage(CdmaShortMessage* sm)
{
    LOG(LOG_DEBUG, "Debug： starting cdma_send_pdumessage");
    static_assert(PDU_TEXT_SIZE >= CDMA_PDU_TEXT_MAX + 1, "PDU buffer must hold the PDU and Ctrl-Z");
    SendReport report;
    char pdu[PDU_TEXT_SIZE] = {};
    int octets = cdma_encode_pdu(sm, pdu);
    int end = static_cast<int>(strnlen(pdu, sizeof pdu - 2));
    pdu[end] = 0x1A;
    pdu[end + 1] = '\0';
    LOG(LOG_DEBUG, "Debug： string length=%d, content=\"%s\"", octets, pdu);
    if (octets == 0)
        return report;
    // Anything but hex would reach the modem as commands of its own.
    if (!hex_only(pdu, end)) {
        LOG(LOG_ERROR, "Error： PDU is not hex, not sent");
        return report;
    }
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT^HCMGS=%d\r", octets);
    LOG(LOG_DEBUG, "Debug： cmd :%s", cmd);
    LOG(LOG_DEBUG, "Debug： cmd:%s", cmd);
    const SubmitMode mode = {cdma_at_command, brenlow.cdma_fd, brenlow.cdma_response, 3, 5, AT_UNTIL_REPORT,
                             CDMA_TAKEN_LINES};
    SubmitStep step = submit_pdu(mode, cmd, pdu, &report);
    // A refusal or the network's failure report is no sent message.
    if (step == SubmitStep::LengthRefused || step == SubmitStep::Refused)
        LOG(LOG_ERROR, "Error： send sms failed, modem answered: %s", Shown(brenlow.cdma_response).c_str());
    return report;
}

} // namespace

int cdma_at_command(const char* cmd, char* response, int timeout, int wait_mode)
{
    LOG(LOG_DEBUG, "Debug： Comand %s", cmd ? cmd : "");
    return at_command(brenlow.cdma_fd, cmd, response, timeout, wait_mode);
}

void cdma_sms_init()
{
    if (cdma_at_command("AT$QCMGF=0\r", brenlow.cdma_response, 5, AT_QUIET_STOP) != 0)
        LOG(LOG_ERROR, "Error： error AT$QCMGF no response");
    if (cdma_at_command("AT+SMSMODE=1\r", brenlow.cdma_response, 5, AT_QUIET_STOP) != 0)
        LOG(LOG_ERROR, "Error： error SMSMODE no response");
    if (cdma_at_command("AT$QCPMS=\"SM\",\"SM\",\"SM\"\r", brenlow.cdma_response, 3, AT_QUIET_STOP) != 0)
        LOG(LOG_ERROR, "Error： error QCPMS no response");
    if (cdma_at_command("AT$QCNMI=2,1\r", brenlow.cdma_response, 3, AT_QUIET_STOP) != 0)
        LOG(LOG_ERROR, "Error： error QCNMI no response");
}

int cdma_read_sms(int index, StoredMessage* msg)
{
    if (!read_stored_pdu(index, "/etc/gcom/read_sms_cdma.gcom", msg->pdu, sizeof msg->pdu))
        return 0;
    cdma_decode_stored(msg, get_sms_config()->unicode == 1);
    return 1;
}

void cdma_decode_stored(StoredMessage* msg, bool whole_text)
{
    CdmaShortMessage sm;
    memset(&sm, 0, sizeof sm);
    msg->concat = ConcatHeader{};
    if (whole_text)
        cdma_decode_text(msg->pdu, &sm, msg->text, sizeof msg->text, &msg->concat);
    else
        cdma_decode_pdu(msg->pdu, static_cast<int>(strlen(msg->pdu)), &sm);
    take_decoded(msg, sm, whole_text);
    // Read as text, a zero octet (the hour after midnight) would end the stamp.
    cdma_scts_to_text(&sm, msg->stamp);
}

void cdma_delete_sms(int index)
{
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT$QCMGD=%d\r", index);
    cdma_at_command(cmd, brenlow.cdma_response, 5, AT_QUIET_STOP);
}

bool cdma_count_sms(int* used, int* total)
{
    cdma_at_command("AT$QCPMS?\r", brenlow.cdma_response, 3, AT_QUIET_STOP);
    return parse_storage_count(brenlow.cdma_response, "$QCPMS:", used, total);
}

SendReport cdma_send_sms(const char* number, const char* text)
{
    if (strlen(number) > CDMA_NUMBER_MAX) {
        LOG(LOG_ERROR, "Error： destination number too long: %s", number);
        SendReport refused;
        snprintf(refused.answer, sizeof refused.answer, "number too long");
        return refused;
    }
    CdmaShortMessage sm;
    memset(&sm, 0, sizeof sm);
    snprintf(sm.tpa, sizeof sm.tpa, "%s", number);
    size_t len = strnlen(text, CDMA_TEXT_MAX);
    memcpy(sm.tp_ud, text, len);
    sm.msgLen = static_cast<unsigned char>(len);
    LOG(LOG_DEBUG, "Debug： send %s to %s, length=%d", Shown(text).c_str(), Shown(number).c_str(),
        static_cast<int>(sm.msgLen));
    return cdma_send_pdumessage(&sm);
}
