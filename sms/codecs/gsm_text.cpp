// GSM text decoding into UTF-8 and concatenated SMS-SUBMIT building.
#include "gsm_text.h"

#include <cstring>

#include "gsm_alphabet.h"

namespace {

constexpr uint8_t SUBMIT_FIRST_OCTET = 0x11; // SMS-SUBMIT, relative validity period
constexpr uint8_t HEADER_INDICATOR = 0x40;
constexpr uint8_t VALIDITY_FOUR_DAYS = 0xAA;
constexpr uint8_t DCS_SEPTETS = 0x00;
constexpr uint8_t DCS_UCS2 = 0x08;
constexpr uint8_t IEI_CONCAT_8BIT = 0x00;
constexpr uint8_t IEI_CONCAT_16BIT = 0x08;
// 05 00 03 ref total part: seven septets once the fill bit is counted.
constexpr int CONCAT_HEADER_OCTETS = 6;
constexpr int CONCAT_HEADER_SEPTETS = 7;
constexpr int UD_OCTETS_MAX = 140;
// Code points taken from one outgoing text.
constexpr int SEND_CHARS_MAX = GSM_SEND_TEXT_MAX;

// Unpacks count septets of packed user data (first septet in the low bits of
// the first octet) from septet number first on; zeros past the octets read.
void unpack_from(const uint8_t* octets, int n, int first, int count, uint8_t* septets)
{
    int at = 7 * first / 8;
    uint32_t acc = at < n ? octets[at] >> (7 * first % 8) : 0;
    int have = 8 - 7 * first % 8;
    at++;
    for (int i = 0; i < count; i++) {
        if (have < 7) {
            acc |= static_cast<uint32_t>(at < n ? octets[at] : 0) << have;
            at++;
            have += 8;
        }
        septets[i] = static_cast<uint8_t>(acc & 0x7F);
        acc >>= 7;
        have -= 7;
    }
}

// One character of an outgoing text: its septet form (or -1) and code point.
struct OutChar {
    int32_t septet;
    uint32_t code_point;
};

// Septets (GSM alphabet) or UTF-16 units (UCS2) a character takes.
inline int char_cost(const OutChar& c, bool septets)
{
    return septets ? (c.septet > 0xFF ? 2 : 1) : (c.code_point > 0xFFFF ? 2 : 1);
}

// User data of one part: characters [first, end) after the header, if any.
int part_user_data(const OutChar* chars, int first, int end, bool septets, const uint8_t* header, int header_octets,
                   uint8_t* ud, int* ud_octets)
{
    memcpy(ud, header, header_octets);
    if (septets) {
        // Packed first-in-low-bits; the header is followed by one fill bit,
        // seven septets in all. Locals, not a helper: this loop is the cost.
        int octets = header_octets;
        int used = header_octets ? 1 : 0;
        uint32_t acc = 0;
        int count = header_octets ? CONCAT_HEADER_SEPTETS : 0;
        for (int i = first; i < end; i++) {
            int32_t form = chars[i].septet;
            if (form > 0xFF) {
                acc |= static_cast<uint32_t>(GSM_ESCAPE) << used;
                used += 7;
                count++;
            }
            acc |= static_cast<uint32_t>(form & 0x7F) << used;
            used += 7;
            count++;
            while (used >= 8) {
                ud[octets++] = static_cast<uint8_t>(acc);
                acc >>= 8;
                used -= 8;
            }
        }
        if (used > 0)
            ud[octets++] = static_cast<uint8_t>(acc);
        *ud_octets = octets;
        return count;
    }
    int at = header_octets;
    for (int i = first; i < end; i++) {
        uint32_t cp = chars[i].code_point;
        if (cp > 0xFFFF) {
            uint32_t v = cp - 0x10000;
            uint32_t high = 0xD800 | (v >> 10);
            ud[at++] = static_cast<uint8_t>(high >> 8);
            ud[at++] = static_cast<uint8_t>(high);
            cp = 0xDC00 | (v & 0x3FF);
        }
        ud[at++] = static_cast<uint8_t>(cp >> 8);
        ud[at++] = static_cast<uint8_t>(cp);
    }
    *ud_octets = at;
    return at;
}

} // namespace

GsmAlphabet gsm_dcs_alphabet(uint8_t dcs)
{
    if ((dcs & 0x80) == 0) {
        if (dcs & 0x20)
            return GsmAlphabet::Octets; // compressed
        switch ((dcs >> 2) & 3) {
        case 1:
            return GsmAlphabet::Octets;
        case 2:
            return GsmAlphabet::Ucs2;
        default:
            return GsmAlphabet::Septets; // reserved codings read as the default alphabet
        }
    }
    switch (dcs >> 4) {
    case 0xE:
        return GsmAlphabet::Ucs2;
    case 0xF:
        return dcs & 0x04 ? GsmAlphabet::Octets : GsmAlphabet::Septets;
    default:
        return GsmAlphabet::Septets;
    }
}

int gsm_parse_udh(const uint8_t* ud, int n, ConcatHeader* concat)
{
    concat->ref = 0;
    concat->total = 0;
    concat->part = 0;
    if (n < 1 || ud[0] + 1 > n)
        return -1;
    int size = ud[0] + 1;
    for (int at = 1; at + 1 < size;) {
        int iei = ud[at];
        int len = ud[at + 1];
        const uint8_t* data = ud + at + 2;
        if (at + 2 + len > size)
            return -1;
        if (iei == IEI_CONCAT_8BIT && len == 3) {
            concat->ref = data[0];
            concat->total = data[1];
            concat->part = data[2];
        } else if (iei == IEI_CONCAT_16BIT && len == 4) {
            concat->ref = data[0] << 8 | data[1];
            concat->total = data[2];
            concat->part = data[3];
        }
        at += 2 + len;
    }
    return size;
}

int gsm_decode_text(const char* pdu, ShortMessage* msg, char* text, int size, ConcatHeader* concat)
{
    GsmUserData ud;
    concat->ref = concat->total = concat->part = 0;
    text[0] = '\0';
    int udl = gsm_decode_fields(pdu, msg, &ud);
    if (udl <= 0)
        return 0;
    int header = 0;
    if (ud.first_octet & HEADER_INDICATOR) {
        header = gsm_parse_udh(ud.octets, ud.octet_count, concat);
        // A header that runs past the data is no header: the text keeps it all.
        if (header < 0)
            header = 0;
    }
    GsmAlphabet alphabet = gsm_dcs_alphabet(msg->tp_dcs);
    if (alphabet == GsmAlphabet::Septets) {
        int first = (8 * header + 6) / 7; // the header and its fill bits, in septets
        // A PDU cut short gives the septets it holds, not zeros read as "@".
        int held = ud.octet_count * 8 / 7;
        int count = (udl < held ? udl : held) - first;
        uint8_t septets[255];
        if (count > 0)
            unpack_from(ud.octets, ud.octet_count, first, count, septets);
        return gsm_septets_to_utf8(septets, count > 0 ? count : 0, text, size);
    }
    int n = ud.octet_count < udl ? ud.octet_count : udl;
    if (alphabet == GsmAlphabet::Ucs2)
        return n > header ? utf16be_to_utf8(ud.octets + header, n - header, text, size) : 0;
    // 8-bit data as today: its bytes up to the first zero.
    int length = 0;
    for (int i = header; i < n && length + 1 < size && ud.octets[i]; i++)
        text[length++] = static_cast<char>(ud.octets[i]);
    text[length] = '\0';
    return length;
}

int gsm_encode_text(const char* number, const char* text, uint8_t ref, GsmSubmitParts* out)
{
    OutChar chars[SEND_CHARS_MAX];
    int length = static_cast<int>(strnlen(text, GSM_SEND_TEXT_MAX));
    int count = 0;
    bool septets = true;
    int septet_total = 0;
    int unit_total = 0;
    for (int pos = 0; pos < length && count < SEND_CHARS_MAX;) {
        int32_t cp;
        unsigned b = static_cast<unsigned char>(text[pos]);
        if (b < 0x80) {
            cp = static_cast<int32_t>(b);
            pos++;
        } else {
            cp = utf8_next(text, length, &pos);
            if (cp < 0)
                break; // a character cut by an earlier length limit
        }
        OutChar& c = chars[count++];
        c.code_point = static_cast<uint32_t>(cp);
        // Once one character has no septet form the text goes as UCS2.
        c.septet = septets ? gsm_septet_of(c.code_point) : -1;
        septets = septets && c.septet >= 0;
        septet_total += c.septet > 0xFF ? 2 : 1;
        unit_total += cp > 0xFFFF ? 2 : 1;
    }
    int total = septets ? septet_total : unit_total;
    int single = septets ? GSM_SEPTETS_SINGLE : GSM_UCS2_UNITS_SINGLE;
    int per_part = septets ? GSM_SEPTETS_PART : GSM_UCS2_UNITS_PART;

    // Part boundaries: an escape pair or a surrogate pair is never split.
    int bounds[GSM_SEND_PARTS_MAX + 1] = {0};
    int parts = 1;
    if (total <= single) {
        bounds[1] = count;
    } else {
        int i = 0;
        for (parts = 0; parts < GSM_SEND_PARTS_MAX && i < count; parts++) {
            int used = 0;
            while (i < count && used + char_cost(chars[i], septets) <= per_part)
                used += char_cost(chars[i++], septets);
            bounds[parts + 1] = i;
        }
    }
    out->count = parts;
    out->dropped = count - bounds[parts];

    ShortMessage head_fields;
    memset(&head_fields, 0, sizeof head_fields);
    size_t n = strnlen(number, sizeof head_fields.tpa - 1);
    memcpy(head_fields.tpa, number, n);
    bool concat = total > single;
    for (int p = 0; p < parts; p++) {
        uint8_t header[CONCAT_HEADER_OCTETS] = {5, IEI_CONCAT_8BIT, 3, ref, static_cast<uint8_t>(parts),
                                                static_cast<uint8_t>(p + 1)};
        char* pdu = out->pdu[p];
        uint8_t first = concat ? SUBMIT_FIRST_OCTET | HEADER_INDICATOR : SUBMIT_FIRST_OCTET;
        int hex = gsm_encode_submit_head(&head_fields, first, pdu);
        uint8_t tail[4 + UD_OCTETS_MAX];
        int ud_octets = 0;
        int udl = part_user_data(chars, bounds[p], bounds[p + 1], septets, header, concat ? CONCAT_HEADER_OCTETS : 0,
                                 tail + 4, &ud_octets);
        tail[0] = 0; // TP-PID
        tail[1] = septets ? DCS_SEPTETS : DCS_UCS2;
        tail[2] = VALIDITY_FOUR_DAYS;
        tail[3] = static_cast<uint8_t>(udl);
        hex += octets_to_hex(tail, 4 + ud_octets, pdu + hex);
        out->tpdu_length[p] = gsm_tpdu_length(pdu, hex);
    }
    return parts;
}
