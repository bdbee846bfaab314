// CDMA short messages: text extraction from parsed transport messages, with
// concatenation and WDP segments.
#include "cdma_pdu.h"
#include "cdma_text.h"

#include <cstring>

#include "cdma_bits.h"
#include "cdma_transport.h"
#include "gsm_alphabet.h"
#include "gsm_pdu.h"
#include "log.h"

constexpr char LOG_UNIT[] = "zolt_sms_pdu.cpp";

namespace {

// Longest hex text the SMS manager reads from the modem.
constexpr int CDMA_HEX_TEXT_MAX = 1023;
constexpr int CDMA_UNICODE_OCTETS_MAX = 140;
constexpr int CDMA_OCTET_TEXT_MAX = 160;
constexpr int CDMA_TPA_MAX = sizeof(CdmaShortMessage::tpa) - 1;

// WAP ports whose datagrams carry no leading content-type octet.
constexpr uint16_t WAP_PLAIN_PORTS[] = {2805, 2923, 2948, 2949};

// Work buffers of the decoder; calls must not overlap.
struct DecodeBuffers {
    uint8_t decode_octets[CDMA_HEX_TEXT_MAX / 2 + 1];
    CdmaSmsMessage parsed;
};
DecodeBuffers buffers;

// Concatenation header 05 00 03 or 06 08 04 at the start of octet data.
void find_octet_header(const uint8_t* ud, CdmaShortMessage* msg)
{
    if (ud[0] == 5 && ud[1] == 0 && ud[2] == 3) {
        msg->ref = ud[3];
        msg->seg = ud[4];
        msg->curSeg = ud[5];
    } else if (ud[0] == 6 && ud[1] == 8 && ud[2] == 4) {
        msg->ref = ud[4];
        msg->seg = ud[5];
        msg->curSeg = ud[6];
    } else {
        msg->ref = 0;
        msg->seg = 1;
        msg->curSeg = 1;
    }
}

// Writes count septets read from bit offset of the packed user data, then a terminator.
void unpack_septets(const uint8_t* ud, int bit_offset, int count, char* out)
{
    BitReader r(ud, CDMA_USER_DATA_CHARS);
    r.position = bit_offset;
    for (int i = 0; i < count; i++)
        out[i] = static_cast<char>(r.read(7));
    out[count] = '\0';
}

void extract_ascii7(const CdmaUserData& ud, CdmaShortMessage* msg)
{
    const uint8_t* d = ud.chars;
    int nf = ud.num_fields;
    msg->msgLen = nf;
    auto septet = [&](int i) { return packed_field(d, sizeof ud.chars, i, 7); };
    if (d[0] == 5 && d[1] == 0 && d[2] == 3) {
        // Header in whole octets, then one fill bit before the first septet.
        msg->ref = d[3];
        msg->seg = d[4];
        msg->curSeg = d[5];
        memcpy(msg->tp_ud, d, 6);
        unpack_septets(d, 6 * 8 + 1, nf > 7 ? nf - 7 : 0, msg->tp_ud + 6);
        msg->msgLen = nf > 0 ? nf - 1 : 0;
        LOG(LOG_DEBUG, "Debug： ***deliver SMS 8bit 503, ref:%d, seg:%d, curSeg:%d", msg->ref, msg->seg, msg->curSeg);
    } else if (septet(0) == 5 && septet(1) == 0 && septet(2) == 3) {
        msg->ref = septet(3);
        msg->seg = septet(4);
        msg->curSeg = septet(5);
        unpack_septets(d, 0, nf, msg->tp_ud);
        const unsigned char* t = reinterpret_cast<const unsigned char*>(msg->tp_ud);
        LOG(LOG_DEBUG, "Debug： ***deliver SMS 7bit 503, ref:%d, seg:%d, curSeg:%d, firstbit:%x", msg->ref, msg->seg,
            msg->curSeg, t[0]);
        LOG(LOG_DEBUG, "Debug： ***deliver SMS, front bit %x %x %x %x %x %x %x %x %x", t[0], t[1], t[2], t[3], t[4],
            t[5], t[6], t[7], t[8]);
    } else if (septet(0) == 6 && septet(1) == 8 && septet(2) == 4) {
        // 16-bit reference written as septets: its low-order septet is kept.
        msg->ref = septet(4);
        msg->seg = septet(5);
        msg->curSeg = septet(6);
        unpack_septets(d, 0, nf, msg->tp_ud);
    } else if (d[0] == 6 && d[1] == 8 && d[2] == 4) {
        msg->ref = d[4];
        msg->seg = d[5];
        msg->curSeg = d[6];
        memcpy(msg->tp_ud, d, 7);
        unpack_septets(d, 7 * 8, nf > 8 ? nf - 8 : 0, msg->tp_ud + 7);
        msg->msgLen = nf > 0 ? nf - 1 : 0;
    } else {
        msg->ref = 0;
        msg->seg = 1;
        msg->curSeg = 1;
        unpack_septets(d, 0, nf, msg->tp_ud);
    }
    // The commercial-at sign ends the text, as on the modem's own display.
    for (int i = 0; i < nf; i++) {
        if (msg->tp_ud[i] == 0x40)
            msg->tp_ud[i] = '\0';
    }
}

void extract_unicode(const CdmaUserData& ud, CdmaShortMessage* msg)
{
    find_octet_header(ud.chars, msg);
    int length = (2 * ud.num_fields) & 0xFF;
    if (length > CDMA_UNICODE_OCTETS_MAX)
        length = CDMA_UNICODE_OCTETS_MAX;
    msg->msgLen = length;
    memcpy(msg->tp_ud, ud.chars, length);
}

void extract_octets(const CdmaUserData& ud, uint8_t header_ind, CdmaShortMessage* msg)
{
    int length = ud.num_fields;
    if (length > CDMA_OCTET_TEXT_MAX)
        length = CDMA_OCTET_TEXT_MAX;
    msg->msgLen = length;
    if (header_ind) {
        find_octet_header(ud.chars, msg);
    } else {
        msg->ref = 0;
        msg->seg = 1;
        msg->curSeg = 1;
    }
    memcpy(msg->tp_ud, ud.chars, length);
}

// DTMF codes 1-9, 10 (and 0) for "0", 11 "*", 12 "#"; 13 to 15 end the number.
void copy_address(const CdmaAddress& a, char* tpa)
{
    int count = a.num_fields;
    int kept = 0;
    if (a.digit_mode == 1) {
        for (; kept < count && kept < CDMA_TPA_MAX; kept++)
            tpa[kept] = static_cast<char>(a.chars[kept]);
    } else if (count <= CDMA_NUMBER_DIGITS_MAX) {
        for (int i = 0; i < count && kept < CDMA_TPA_MAX; i++) {
            uint32_t code = packed_field(a.chars, sizeof a.chars, i, 4);
            if (code >= 13)
                break;
            tpa[kept++] = code == 11 ? '*' : code == 12 ? '#' : static_cast<char>('0' + code % 10);
        }
    }
    tpa[kept] = '\0';
}

void copy_attributes(const CdmaSmsMessage& p, CdmaShortMessage* msg)
{
    msg->msg_id = p.message_id;
    msg->priority = p.priority;
    if (p.present & CDMA_HAS_NUM_MESSAGES) {
        int value = (p.num_messages >> 4) * 10 + (p.num_messages & 0x0F);
        msg->num_messages = value > 99 ? 99 : value;
    }
    msg->teleservice_id = p.teleservice_id;
    msg->vmn = (p.teleservice_id & 0xEFFF) == 3;
    msg->encoding = p.user_data[0].encoding;
    copy_address(p.address, msg->tpa);
    msg->tp_dcs = msg->encoding == CDMA_ENCODING_ASCII7 ? 0 : msg->encoding == CDMA_ENCODING_UNICODE ? 8 : 4;
    memcpy(msg->scts, p.mc_time, sizeof p.mc_time);
    msg->immediate_display = (p.present & CDMA_HAS_DISPLAY_MODE) && p.display_mode == 0;
    msg->bearer_msg_type = p.bearer_msg_type;
    msg->header_ind = p.header_ind;
    if (p.present & CDMA_HAS_MESSAGE_STATUS) {
        msg->error_class = p.error_class;
        msg->status_code = p.status_code;
    }
}

} // namespace

int ZoltSMSWDPDataDecode(CdmaSmsMessage* parsed, CdmaShortMessage* msg)
{
    CdmaUserData* ud = &parsed->user_data[0];
    if (ud->chars[0] == 0 && ud->chars[1] == 3) {
        LOG(LOG_DEBUG, "Debug： ***Notice: Have a more Message Identifier");
        BitReader r(ud->chars + 2, 3);
        parsed->bearer_msg_type = r.read(4);
        parsed->message_id = r.read(16);
        parsed->header_ind = r.read(1);
        int expected = ud->chars[5] == 1 ? ud->chars[6] : 0;
        int room = CDMA_USER_DATA_CHARS - 7;
        CdmaUserData inner = {};
        int covered = cdma_parse_user_data(ud->chars + 7, expected < room ? expected : room,
                                           parsed->teleservice_id, &inner);
        if (covered != expected) {
            LOG(LOG_DEBUG, "Debug： ***Error: Extract Usr Data Error");
            memset(msg, 0, sizeof *msg);
            return -1;
        }
        *ud = inner;
    } else {
        LOG(LOG_DEBUG, "Debug： ***Right , Only one Message Identifier");
    }

    const uint8_t* d = ud->chars;
    int nf = ud->num_fields;
    msg->ref = parsed->message_id & 0xFF;
    msg->seg = d[1];
    msg->curSeg = d[2];
    int start = 3;
    if (msg->curSeg == 0) {
        msg->SrcPort = static_cast<uint16_t>((d[3] << 8) | d[4]);
        msg->DstPort = static_cast<uint16_t>((d[5] << 8) | d[6]);
        start = 7;
    }
    // A datagram shorter than its own header carries no data.
    int length = nf > start ? nf - start : 0;
    memcpy(msg->tp_ud, d + start, length);
    msg->msgLen = length;
    parsed->header_ind = 0;

    const unsigned char* t = reinterpret_cast<const unsigned char*>(msg->tp_ud);
    auto tail = [&](int i) { return length - 1 - i >= 0 ? t[length - 1 - i] : 0; };
    LOG(LOG_DEBUG, "Debug： ***Entry ZoltSMSWDPDataDecode WDP Data: Segments %x curSeg %x DstPort %x "
        "SrcPort %x  numFields %d msgLen %d  TPUD_HEAD %x %x %x %x %x %x --TPUD_TAIL   %x %x %x %x %x %x", msg->seg,
        msg->curSeg, msg->DstPort, msg->SrcPort, nf, msg->msgLen, t[0], t[1], t[2], t[3], t[4], t[5], tail(0), tail(1),
        tail(2), tail(3), tail(4), tail(5));

    if (parsed->teleservice_id == CDMA_TELESERVICE_WAP) {
        bool plain = false;
        for (uint16_t port : WAP_PLAIN_PORTS)
            plain |= msg->DstPort == port;
        if (!plain) {
            // Other ports carry a content-type octet in front of the data.
            msg->curSeg++;
            LOG(LOG_DEBUG, "Debug： ***content_type %d", t[0]);
            if (length > 0) {
                memmove(msg->tp_ud, msg->tp_ud + 1, length - 1);
                msg->tp_ud[length - 1] = '\0';
                msg->msgLen--;
            }
        }
    }
    return 0;
}

void cdma_decode_pdu(const char* pdu, int length, CdmaShortMessage* msg)
{
    memset(msg, 0, sizeof *msg);
    if (length > CDMA_HEX_TEXT_MAX)
        length = CDMA_HEX_TEXT_MAX;
    if (length < 0)
        length = 0;
    int chars = static_cast<int>(strnlen(pdu, length));
    int count = chars / 2;
    uint8_t* octets = buffers.decode_octets;
    hex_to_octets(pdu, octets, 2 * count);

    CdmaSmsMessage& parsed = buffers.parsed;
    cdma_parse_transport(octets, count, &parsed);

    const CdmaUserData& ud = parsed.user_data[0];
    if (cdma_is_wap(parsed.teleservice_id)) {
        if (ZoltSMSWDPDataDecode(&parsed, msg) < 0)
            return;
    } else if (ud.encoding == CDMA_ENCODING_UNICODE) {
        extract_unicode(ud, msg);
    } else if (ud.encoding == CDMA_ENCODING_ASCII7 || ud.encoding == CDMA_ENCODING_IA5) {
        // IA5 is 7-bit text as well; reading it as septets keeps it legible.
        extract_ascii7(ud, msg);
    } else {
        extract_octets(ud, parsed.header_ind, msg);
    }
    copy_attributes(parsed, msg);
}

void cdma_scts_to_text(const CdmaShortMessage* msg, char* out)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 6; i++) {
        uint8_t octet = static_cast<uint8_t>(msg->scts[i]);
        out[2 * i] = digits[octet >> 4];
        out[2 * i + 1] = digits[octet & 0x0F];
    }
    out[12] = '\0';
}

namespace {

// The user data begins with the concatenation header the decoder read ref,
// seg and curSeg from: its size in octets, 0 without one.
int concat_header_size(const CdmaShortMessage& msg)
{
    const uint8_t* ud = reinterpret_cast<const uint8_t*>(msg.tp_ud);
    if (msg.seg <= 1 || msg.msgLen < 6)
        return 0;
    if (ud[0] == 5 && ud[1] == 0 && ud[2] == 3)
        return 6;
    if (ud[0] == 6 && ud[1] == 8 && ud[2] == 4 && msg.msgLen >= 7)
        return 7;
    return 0;
}

} // namespace

int cdma_decode_text(const char* pdu, CdmaShortMessage* msg, char* text, int size, ConcatHeader* concat)
{
    memset(msg, 0, sizeof *msg);
    cdma_decode_pdu(pdu, static_cast<int>(strlen(pdu)), msg);
    int header = concat_header_size(*msg);
    *concat = ConcatHeader{header ? msg->ref : 0, header ? msg->seg : 0, header ? msg->curSeg : 0};
    int length = msg->msgLen;
    if (msg->tp_dcs == 8) {
        // Units start on an even octet after the header.
        int start = (header + 1) & ~1;
        return utf16be_to_utf8(reinterpret_cast<const uint8_t*>(msg->tp_ud) + start,
                               length > start ? length - start : 0, text, size);
    }
    // 7-bit ASCII, IA5 and octets: the bytes up to the first zero.
    int n = static_cast<int>(strnlen(msg->tp_ud + header, sizeof msg->tp_ud - header));
    if (n > size - 1)
        n = size - 1;
    memcpy(text, msg->tp_ud + header, n);
    text[n] = '\0';
    return n;
}
