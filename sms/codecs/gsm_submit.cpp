// GSM SMS-SUBMIT encoding: one PDU per call, no user data header.
#include "gsm_pdu.h"

#include <cstring>

#include "log.h"
#include "text.h"

constexpr char LOG_UNIT[] = "gsm_sms.cpp";

namespace {

constexpr uint8_t SUBMIT_FIRST_OCTET = 0x11;   // SMS-SUBMIT, relative validity period
constexpr uint8_t VALIDITY_FOUR_DAYS = 0xAA;
constexpr uint8_t TOA_INTERNATIONAL = 0x91;
constexpr uint8_t TOA_UNKNOWN = 0x81;
constexpr int GSM_TEXT_MAX = sizeof(ShortMessage::tp_ud) - 1;
constexpr int GSM_DIGITS_MAX = 15;
// One PDU carries at most 140 octets of user data.
constexpr int GSM_UCS2_OCTETS_MAX = 140;

// Length of a field that may fill its whole buffer without a terminator.
template <size_t N>
int field_length(const char (&field)[N], int most)
{
    int n = static_cast<int>(strnlen(field, N));
    return n > most ? most : n;
}

// User data by coding scheme; returns TP-UDL and writes the octets.
int encode_user_data(const ShortMessage* msg, uint8_t* ud, int* ud_octets)
{
    int n = field_length(msg->tp_ud, GSM_TEXT_MAX);
    if (msg->tp_dcs == 0) {
        // Only 7-bit characters can be packed; others would spill into their neighbours.
        char text[GSM_TEXT_MAX + 1];
        for (int i = 0; i < n; i++) {
            unsigned char c = msg->tp_ud[i];
            text[i] = c < 0x80 ? static_cast<char>(c) : '?';
        }
        text[n] = '\0';
        *ud_octets = gsm_pack_7bit(text, n + 1, ud);
        return n;
    }
    if (msg->tp_dcs == 8) {
        uint8_t units[2 * GSM_TEXT_MAX + 2] = {};
        int octets = utf8_to_ucs2(msg->tp_ud, n, units);
        if (octets > GSM_UCS2_OCTETS_MAX)
            octets = GSM_UCS2_OCTETS_MAX;
        units[octets] = 0;
        LOG(LOG_DEBUG, "Debug： pDst>>%s,%d", reinterpret_cast<const char*>(units), octets);
        memcpy(ud, units, octets);
        *ud_octets = octets;
        return octets;
    }
    memcpy(ud, msg->tp_ud, n);
    *ud_octets = n;
    return n;
}

} // namespace

int swap_semi_octets(const char* digits, char* out, int n)
{
    int i = 0;
    for (; i + 1 < n; i += 2) {
        out[i] = digits[i + 1];
        out[i + 1] = digits[i];
    }
    if (n & 1) {
        out[i] = 'F';
        out[i + 1] = digits[i];
        n++;
    }
    out[n] = '\0';
    return n;
}

int gsm_pack_7bit(const char* chars, int count, uint8_t* out)
{
    int written = 0;
    unsigned carry = 0;
    for (int k = 0; k < count; k++) {
        unsigned c = static_cast<unsigned char>(chars[k]);
        int bit = k % 8;
        if (bit == 0) {
            carry = c;
            continue;
        }
        out[written++] = static_cast<uint8_t>((carry | (c << (8 - bit))) & 0xFF);
        carry = c >> bit;
    }
    return written;
}

int utf8_to_ucs2(const char* text, int length, uint8_t* out)
{
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    int written = 0;
    int i = 0;
    while (i < length) {
        unsigned b = in[i];
        unsigned unit;
        if (b < 0x80) {
            unit = b;
            i += 1;
        } else if (b < 0xE0) {
            if (i + 1 >= length)
                break;
            unit = ((b & 0x1F) << 6) | (in[i + 1] & 0x3F);
            i += 2;
        } else {
            // A four-byte sequence is read as three; its last byte then stands alone.
            if (i + 2 >= length)
                break;
            unit = ((b << 12) | ((in[i + 1] & 0x3F) << 6) | (in[i + 2] & 0x3F)) & 0xFFFF;
            i += 3;
        }
        out[written++] = static_cast<uint8_t>(unit >> 8);
        out[written++] = static_cast<uint8_t>(unit & 0xFF);
    }
    return written;
}

int gsm_encode_submit_head(const ShortMessage* msg, uint8_t first_octet, char* pdu)
{
    // SMSC information.
    uint8_t smsc[2 + 8];
    int smsc_octets = 1;
    int n = field_length(msg->sca, GSM_DIGITS_MAX);
    if (n == 0) {
        smsc[0] = 0;
    } else {
        char swapped[GSM_DIGITS_MAX + 2];
        int chars = swap_semi_octets(msg->sca, swapped, n);
        smsc[0] = static_cast<uint8_t>((n + (n & 1)) / 2 + 1);
        smsc[1] = TOA_INTERNATIONAL;
        hex_to_octets(swapped, smsc + 2, chars);
        smsc_octets = 2 + chars / 2;
    }

    // Destination: one leading "+" selects the international type of address.
    const char* digits = msg->tpa;
    int d = field_length(msg->tpa, sizeof msg->tpa);
    bool international = d > 0 && digits[0] == '+';
    if (international) {
        digits++;
        d--;
    }
    if (d > GSM_DIGITS_MAX)
        d = GSM_DIGITS_MAX;
    uint8_t header[4] = {first_octet, 0x00, static_cast<uint8_t>(d),
                         international ? TOA_INTERNATIONAL : TOA_UNKNOWN};
    char address[GSM_DIGITS_MAX + 2];
    int address_chars = swap_semi_octets(digits, address, d);

    int length = octets_to_hex(smsc, smsc_octets, pdu);
    length += octets_to_hex(header, 4, pdu + length);
    memcpy(pdu + length, address, address_chars + 1);
    return length + address_chars;
}

int gsm_encode_pdu(const ShortMessage* msg, char* pdu)
{
    int length = gsm_encode_submit_head(msg, SUBMIT_FIRST_OCTET, pdu);
    uint8_t tail[4 + GSM_TEXT_MAX];
    int ud_octets = 0;
    int udl = encode_user_data(msg, tail + 4, &ud_octets);
    tail[0] = msg->tp_pid;
    tail[1] = msg->tp_dcs;
    tail[2] = VALIDITY_FOUR_DAYS;
    tail[3] = static_cast<uint8_t>(udl);
    length += octets_to_hex(tail, 4 + ud_octets, pdu + length);
    return length;
}

int gsm_tpdu_length(const char* pdu, int hex_length)
{
    int smsc = 0;
    if (pdu[0] && pdu[1])
        smsc = hex_digit_value(pdu[0]) * 16 + hex_digit_value(pdu[1]);
    return hex_length / 2 - (smsc + 1);
}
