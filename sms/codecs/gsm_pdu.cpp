// GSM SMS-DELIVER decoding and the hex and semi-octet helpers shared with the encoder.
#include "gsm_pdu.h"

#include <cstring>

#include "text.h"

namespace {

// Longest run of semi-octets an address length octet can announce (255, made even).
constexpr int GSM_ADDRESS_DIGITS_MAX = 256;
// TP-UDL is one octet: at most 255 septets, packed into 224 octets.
constexpr int GSM_UD_OCTETS_MAX = 255;
constexpr int GSM_TEXT_MAX = sizeof(ShortMessage::tp_ud) - 1;
constexpr int GSM_ADDRESS_MAX = sizeof(ShortMessage::tpa) - 1;

// Upper-case hex text of every octet value, two characters each.
struct HexPairs {
    char text[256][2];
    constexpr HexPairs() : text()
    {
        constexpr char digits[] = "0123456789ABCDEF";
        for (int o = 0; o < 256; o++) {
            text[o][0] = digits[o >> 4];
            text[o][1] = digits[o & 15];
        }
    }
};
constexpr HexPairs HEX_PAIRS;

// Position in the PDU text; nothing is ever read at or past its end.
struct PduCursor {
    const char* text;
    int length;
    int position;

    int left() const { return length - position; }

    // One octet, or -1 when the text ends first.
    int octet()
    {
        if (left() < 2)
            return -1;
        uint8_t value = 0;
        hex_to_octets(text + position, &value, 2);
        position += 2;
        return value;
    }

    // Unswaps n characters (cut at the end of the text) into a field of size bytes;
    // longer addresses keep their first size - 1 characters.
    void semi_octets(int n, char* field, int size)
    {
        if (n > left())
            n = left();
        char digits[GSM_ADDRESS_DIGITS_MAX + 1];
        if (n > GSM_ADDRESS_DIGITS_MAX)
            n = GSM_ADDRESS_DIGITS_MAX;
        int kept = unswap_semi_octets(text + position, digits, n);
        if (kept > size - 1)
            kept = size - 1;
        memcpy(field, digits, kept);
        field[kept] = '\0';
        position += n;
    }

    // Up to n octets (fewer when the text ends first); returns the number read.
    int octets(int n, uint8_t* out)
    {
        if (2 * n > left())
            n = left() / 2;
        hex_to_octets(text + position, out, 2 * n);
        position += 2 * n;
        return n;
    }
};

// The text as the codec has always read it: septet values, low UCS2 octets, raw bytes.
void decode_user_data(const GsmUserData& ud, ShortMessage* msg)
{
    int udl = ud.udl;
    int n = ud.octet_count;
    const uint8_t* octets = ud.octets;
    if (msg->tp_dcs == 0) {
        // Septets past TP-UDL are fill bits (a trailing CR or zero when seven spare bits).
        char septets[GSM_UD_OCTETS_MAX * 8 / 7 + 2];
        int count = gsm_unpack_7bit(octets, n, septets);
        if (count > udl)
            count = udl;
        if (count > GSM_TEXT_MAX)
            count = GSM_TEXT_MAX;
        memcpy(msg->tp_ud, septets, count);
        msg->tp_ud[count] = '\0';
    } else if (msg->tp_dcs == 8) {
        int count = 0;
        for (int i = 1; i < n; i += 2)
            msg->tp_ud[count++] = static_cast<char>(octets[i]);
        msg->tp_ud[count] = '\0';
    } else {
        if (n > GSM_TEXT_MAX)
            n = GSM_TEXT_MAX;
        memcpy(msg->tp_ud, octets, n);
        msg->tp_ud[n] = '\0';
    }
}

} // namespace

int hex_to_octets(const char* text, uint8_t* out, int n)
{
    for (int i = 0; i < n; i += 2) {
        if (!text[i] || !text[i + 1])
            break;
        out[i / 2] = static_cast<uint8_t>((hex_digit_value(text[i]) << 4) | hex_digit_value(text[i + 1]));
    }
    return n / 2;
}

int octets_to_hex(const uint8_t* octets, int n, char* out)
{
    for (int i = 0; i < n; i++) {
        uint8_t o = octets[i];
        memcpy(out + 2 * i, HEX_PAIRS.text[o], 2);
    }
    out[2 * n] = '\0';
    return 2 * n;
}

int unswap_semi_octets(const char* text, char* out, int n)
{
    int count = 0;
    for (int i = 0; i < n; i += 2) {
        if (!text[i])
            break;
        if (i + 1 < n && text[i + 1]) {
            out[count++] = text[i + 1];
            out[count++] = text[i];
        } else {
            out[count++] = text[i];
            break;
        }
    }
    if (count > 0 && out[count - 1] == 'F')
        count--;
    out[count] = '\0';
    return count;
}

int gsm_unpack_7bit(const uint8_t* octets, int n, char* out)
{
    int count = 0;
    int shift = 0;
    unsigned carry = 0;
    for (int i = 0; i < n; i++) {
        unsigned o = octets[i];
        out[count++] = static_cast<char>(((o << shift) | carry) & 0x7F);
        carry = o >> (7 - shift);
        if (++shift == 7) {
            out[count++] = static_cast<char>(carry);
            shift = 0;
            carry = 0;
        }
    }
    out[count] = '\0';
    return count;
}

int gsm_decode_fields(const char* pdu, ShortMessage* msg, GsmUserData* ud)
{
    memset(msg, 0, sizeof *msg);
    ud->first_octet = 0;
    ud->udl = 0;
    ud->octet_count = 0;
    PduCursor cursor{pdu, static_cast<int>(strlen(pdu)), 0};

    // SMSC information. A length of 0 means no service centre and no type of address.
    int smsc = cursor.octet();
    if (smsc < 0)
        return 0;
    if (smsc > 0) {
        int chars = static_cast<uint8_t>((smsc - 1) * 2);
        cursor.octet();  // type of address, not kept
        cursor.semi_octets(chars, msg->sca, sizeof msg->sca);
    }

    // First octet: only the header indicator is of use, and only to text decoders.
    int first = cursor.octet();
    ud->first_octet = first < 0 ? 0 : first;

    int digits = cursor.octet();
    if (digits < 0)
        return 0;
    if (digits & 1)
        digits++;
    cursor.octet();  // type of address: no "+" and no alphanumeric decoding
    cursor.semi_octets(digits, msg->tpa, GSM_ADDRESS_MAX + 1);

    int pid = cursor.octet();
    int dcs = cursor.octet();
    msg->tp_pid = pid < 0 ? 0 : pid;
    msg->tp_dcs = dcs < 0 ? 0 : dcs;
    cursor.semi_octets(14, msg->scts, sizeof msg->scts);

    int udl = cursor.octet();
    if (udl <= 0)
        return 0;
    ud->udl = udl;
    // TP-UDL counts septets for 7-bit data (read as the whole octet 0 here) and
    // octets otherwise; text decoders that know more codings take less of it.
    bool septets = msg->tp_dcs == 0;
    ud->octet_count = cursor.octets(septets ? (7 * udl + 7) / 8 : udl, ud->octets);
    return udl;
}

int gsm_decode_pdu(const char* pdu, ShortMessage* msg)
{
    GsmUserData ud;
    int udl = gsm_decode_fields(pdu, msg, &ud);
    if (udl <= 0)
        return 0;
    decode_user_data(ud, msg);
    return udl;
}
