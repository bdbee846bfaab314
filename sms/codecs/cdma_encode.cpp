// CDMA short messages: encoding of mobile-originated messages.
#include "cdma_pdu.h"

#include <cstring>

#include "cdma_bits.h"
#include "cdma_transport.h"
#include "log.h"

constexpr char LOG_UNIT[] = "zolt_sms_pdu.cpp";

namespace {

constexpr int TP_UD_SIZE = sizeof(CdmaShortMessage::tp_ud);

// Work buffers of the encoder; calls must not overlap.
struct EncodeBuffers {
    CdmaSmsMessage built;
    uint8_t encode_octets[CDMA_TRANSPORT_MAX + 1];
    char encode_text[CDMA_PDU_TEXT_MAX + 1];
};
EncodeBuffers buffers;

// DTMF code of a number character, or -1.
int dtmf_code(char c)
{
    if (c >= '1' && c <= '9')
        return c - '0';
    if (c == '0')
        return 10;
    if (c == '*')
        return 11;
    if (c == '#')
        return 12;
    return -1;
}

// Octet i of the text to send; the record ends at TP_UD_SIZE.
uint8_t text_octet(const CdmaShortMessage* msg, int i)
{
    return i < TP_UD_SIZE ? static_cast<uint8_t>(msg->tp_ud[i]) : 0;
}

bool starts_with_concatenation(const CdmaShortMessage* msg, int offset)
{
    return text_octet(msg, offset) == 5 && text_octet(msg, offset + 1) == 0
        && text_octet(msg, offset + 2) == 3;
}

// Fills the user data entry from count text bytes starting at offset.
void fill_user_data(const CdmaShortMessage* msg, int offset, int count, uint8_t encoding, CdmaUserData* ud)
{
    ud->encoding = encoding;
    BitWriter w(ud->chars, sizeof ud->chars);
    if (encoding == CDMA_ENCODING_UNICODE) {
        int units = 0;
        while (offset + 2 * units + 1 < TP_UD_SIZE
               && (text_octet(msg, offset + 2 * units) || text_octet(msg, offset + 2 * units + 1)))
            units++;
        memcpy(ud->chars, msg->tp_ud + offset, 2 * units);
        ud->num_fields = static_cast<uint8_t>(units > 255 ? 255 : units);
    } else if (encoding == CDMA_ENCODING_ASCII7 && count >= 6 && starts_with_concatenation(msg, offset)) {
        // Header octets, one fill bit, then septets: read back as the "8bit 503" layout.
        if (count > 254)
            count = 254;
        for (int i = 0; i < 6; i++)
            w.write(text_octet(msg, offset + i), 8);
        w.write(0, 1);
        for (int i = 6; i < count; i++)
            w.write(text_octet(msg, offset + i) & 0x7F, 7);
        ud->num_fields = static_cast<uint8_t>(count + 1);
    } else if (encoding == CDMA_ENCODING_ASCII7) {
        for (int i = 0; i < count; i++)
            w.write(text_octet(msg, offset + i) & 0x7F, 7);
        ud->num_fields = static_cast<uint8_t>(count);
    } else {
        for (int i = 0; i < count; i++)
            ud->chars[i] = text_octet(msg, offset + i);
        ud->num_fields = static_cast<uint8_t>(count);
    }
}

// Replaces the user data by a WDP datagram when the text starts with an application
// port header; the teleservice becomes WAP as soon as a port element is seen.
void apply_port_header(const CdmaShortMessage* msg, CdmaSmsMessage* m)
{
    int h = text_octet(msg, 0);
    if (m->header_ind != 1 || h == 0)
        return;
    bool port = false;
    uint8_t total = 1;
    uint8_t segment = 0;
    uint16_t dst = 0;
    uint16_t src = 0;
    int at = 1;
    while (at < h + 1) {
        int id = text_octet(msg, at);
        int length = text_octet(msg, at + 1);
        if (id == 0) {
            if (length != 3)
                return;
            total = text_octet(msg, at + 3);
            segment = static_cast<uint8_t>(text_octet(msg, at + 4) - 1);
        } else if (id == 5) {
            if (length != 4)
                return;
            dst = static_cast<uint16_t>((text_octet(msg, at + 2) << 8) | text_octet(msg, at + 3));
            src = static_cast<uint16_t>((text_octet(msg, at + 4) << 8) | text_octet(msg, at + 5));
            m->teleservice_id = CDMA_TELESERVICE_WAP;
            port = true;
        }
        at += 2 + length;
    }
    if (!port)
        return;
    CdmaUserData& ud = m->user_data[0];
    int text = msg->msgLen - (h + 1);
    if (text < 0)
        text = 0;
    const uint8_t head[8] = {0, total, segment, static_cast<uint8_t>(src >> 8), static_cast<uint8_t>(src),
                             static_cast<uint8_t>(dst >> 8), static_cast<uint8_t>(dst),
                             static_cast<uint8_t>(ud.encoding)};
    memset(ud.chars, 0, sizeof ud.chars);
    memcpy(ud.chars, head, sizeof head);
    // h + 1 + text is msgLen, so the text lies inside tp_ud and the datagram within 263 octets;
    // the transport builder refuses what exceeds one message.
    if (text > 255 - 8)
        text = 255 - 8;
    memcpy(ud.chars + 8, msg->tp_ud + h + 1, text);
    ud.num_fields = static_cast<uint8_t>(text + 8);
    ud.encoding = CDMA_ENCODING_OCTET;
    m->message_id = total < 2 || segment == 0 ? 1 : 0;
    m->header_ind = 0;
}

} // namespace

int ascii_to_pbcd(uint8_t* out, const char* number, int length)
{
    if (length > CDMA_NUMBER_DIGITS_MAX) {
        LOG(LOG_DEBUG, "Debug： error, numDigs=%d", length);
        return 0;
    }
    for (int i = 0; i < length; i++) {
        int code = dtmf_code(number[i]);
        if (code < 0) {
            if (i % 2 == 0)
                LOG(LOG_DEBUG, "Debug： p_src[%d]=%02x, %02x", i, static_cast<unsigned char>(number[i]), code);
            return 0;
        }
        if (i % 2 == 0)
            out[i / 2] = static_cast<uint8_t>(code << 4);
        else
            out[i / 2] |= static_cast<uint8_t>(code);
    }
    return 1;
}

int cdma_encode_pdu(CdmaShortMessage* msg, char* pdu)
{
    CdmaSmsMessage* m = &buffers.built;
    memset(m, 0, sizeof *m);
    m->header_ind = msg->header_ind;
    int offset = 0;
    int count = msg->msgLen;
    // A concatenation header of a single-segment message is not sent.
    if (starts_with_concatenation(msg, 0) && text_octet(msg, 4) == 1) {
        offset = 6;
        count = count > 6 ? count - 6 : 0;
        m->header_ind = 0;
    }

    int digits = static_cast<int>(strnlen(msg->tpa, sizeof msg->tpa));
    if (!ascii_to_pbcd(m->address.chars, msg->tpa, digits)) {
        LOG(LOG_DEBUG, "Debug： ascii_to_pbcd error");
        return 0;
    }

    m->kind = 7;
    m->msg_type = 0;
    m->teleservice_id = CDMA_TELESERVICE_CMT;
    m->address.num_fields = static_cast<uint8_t>(digits);
    m->bearer_msg_type = 2;
    uint8_t encoding = msg->tp_dcs == 8 ? CDMA_ENCODING_UNICODE : msg->tp_dcs == 0 ? CDMA_ENCODING_ASCII7 : CDMA_ENCODING_OCTET;
    msg->encoding = encoding;
    m->ud_count = 1;
    m->validity_relative = msg->validity;
    m->priority = msg->priority;
    m->language = 1;
    m->present = CDMA_HAS_ADDRESS | CDMA_HAS_USER_DATA | CDMA_HAS_MC_TIME | CDMA_HAS_VALIDITY_RELATIVE
        | CDMA_HAS_PRIORITY | CDMA_HAS_LANGUAGE | CDMA_HAS_BEARER_REPLY;
    if (msg->read_ack || msg->user_ack || msg->dak) {
        m->user_ack = msg->user_ack;
        m->dak = msg->dak;
        m->read_ack = msg->read_ack;
        m->present |= CDMA_HAS_REPLY_OPTION;
    }

    fill_user_data(msg, offset, count, encoding, &m->user_data[0]);
    apply_port_header(msg, m);

    LOG(LOG_DEBUG, "Debug： ***PDU Generate Teleservice ID = %d", static_cast<int>(m->teleservice_id));
    m->present |= CDMA_HAS_MC_TIME;
    uint8_t length = 0;
    if (cdma_build_transport(m, buffers.encode_octets, &length) < 0) {
        LOG(LOG_DEBUG, "Debug： message too long for one transport message");
        return 0;
    }

    static constexpr char hex[] = "0123456789abcdef";
    char* text = buffers.encode_text;
    for (int i = 0; i < length; i++) {
        text[2 * i] = hex[buffers.encode_octets[i] >> 4];
        text[2 * i + 1] = hex[buffers.encode_octets[i] & 0x0F];
    }
    text[2 * length] = '\0';
    memcpy(pdu, text, 2 * length + 1);
    return length;
}
