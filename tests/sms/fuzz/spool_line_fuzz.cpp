// A spool line through the checks of the send path into the encoders: what
// the modem would be handed is hex only, or the line is refused. The first
// byte picks the mode (odd: CDMA).
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "at_channel.h"
#include "brenlow_state.h"
#include "cdma_pdu.h"
#include "cdma_sms.h"
#include "fuzz_setup.h"
#include "gsm_pdu.h"
#include "gsm_sms.h"
#include "sms_manager.h"
#include "spool_line.h"
#include "stored_pdu.h"

namespace {

// The records filled as gsm_send_sms and cdma_send_sms fill them.
int encode(const SpoolLine& msg, bool cdma, char* pdu)
{
    if (cdma) {
        CdmaShortMessage sm;
        memset(&sm, 0, sizeof sm);
        snprintf(sm.tpa, sizeof sm.tpa, "%s", msg.number);
        size_t len = strnlen(msg.text, 160);
        memcpy(sm.tp_ud, msg.text, len);
        sm.msgLen = static_cast<unsigned char>(len);
        return 2 * cdma_encode_pdu(&sm, pdu);
    }
    ShortMessage sm;
    memset(&sm, 0, sizeof sm);
    copy_text(sm.tpa, sizeof sm.tpa, msg.number, sizeof sm.tpa - 1);
    memcpy(sm.tp_ud, msg.text, strnlen(msg.text, sizeof sm.tp_ud - 1));
    return gsm_encode_pdu(&sm, pdu);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::private_root();
    if (size == 0)
        return 0;
    bool cdma = data[0] & 1;
    brenlow.sms_mode = cdma ? SmsMode::Cdma : SmsMode::Gsm;
    std::string line = fuzz::as_line(data + 1, size - 1, SPOOL_LINE_SIZE - 1);
    SpoolLine msg;
    if (parse_spool_line(line.c_str(), &msg) != SpoolParse::Ok || bad_number_byte(msg.number) >= 0)
        return 0;
    char pdu[CDMA_PDU_TEXT_MAX > GSM_PDU_TEXT_MAX ? CDMA_PDU_TEXT_MAX : GSM_PDU_TEXT_MAX] = {};
    int length = encode(msg, cdma, pdu);
    if (length == 0)
        return 0; // refused by the encoder: nothing is written
    if (static_cast<size_t>(length) != strlen(pdu) || !hex_only(pdu, length))
        abort();
    return 0;
}
