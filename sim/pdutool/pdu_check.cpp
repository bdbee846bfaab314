#include "pdu_check.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Longest PDU we look at, in octets: well above what one SMS can hold.
constexpr size_t CHECK_OCTETS_MAX = 512;

int fail(char* why, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int fail(char* why, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(why, size, format, args);
    va_end(args);
    return -1;
}

int nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Hex text into octets; -1 with why for a non-hex character, an odd count or an oversize text.
int to_octets(const char* hex, uint8_t* out, size_t* count, char* why, size_t size)
{
    size_t n = strlen(hex);
    if (n == 0)
        return fail(why, size, "empty PDU");
    for (size_t i = 0; i < n; i++)
        if (nibble(hex[i]) < 0)
            return fail(why, size, "not hex: character %zu is 0x%02X", i + 1, static_cast<unsigned char>(hex[i]));
    if (n % 2)
        return fail(why, size, "odd number of hex characters (%zu): a PDU is whole octets", n);
    if (n / 2 > CHECK_OCTETS_MAX)
        return fail(why, size, "too long: %zu octets", n / 2);
    for (size_t i = 0; i < n / 2; i++)
        out[i] = static_cast<uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    *count = n / 2;
    return 0;
}

const char* mti_name(int mti)
{
    switch (mti) {
    case 0: return "SMS-DELIVER";
    case 1: return "SMS-SUBMIT";
    case 2: return "SMS-STATUS-REPORT";
    default: return "reserved";
    }
}

} // namespace

int check_gsm_deliver(const char* hex, char* why, size_t size)
{
    uint8_t o[CHECK_OCTETS_MAX];
    size_t n = 0;
    if (to_octets(hex, o, &n, why, size) != 0)
        return -1;
    size_t at = 1 + o[0];
    if (at >= n)
        return fail(why, size, "cut short in the SMSC information (%u octets announced)", o[0]);
    int mti = o[at] & 3;
    if (mti != 0)
        return fail(why, size, "TPDU is an %s (first octet %02X), not an SMS-DELIVER", mti_name(mti), o[at]);
    bool udhi = o[at] & 0x40;
    at++;
    if (at >= n)
        return fail(why, size, "cut short before the originating address");
    unsigned digits = o[at];
    if (digits > 20)
        return fail(why, size, "originating address of %u digits (20 at most)", digits);
    at += 2 + (digits + 1) / 2;
    // PID, DCS, 7 octets of time stamp and the UDL.
    if (at + 10 > n)
        return fail(why, size, "cut short before the user data length");
    unsigned dcs = o[at + 1];
    unsigned udl = o[at + 9];
    at += 10;
    // The alphabet bits of the general and message-class coding groups: 7-bit counts septets.
    bool septets = (dcs & 0xC0) == 0 ? (dcs & 0x0C) == 0 : (dcs & 0xF0) == 0xF0 ? (dcs & 0x04) == 0 : true;
    size_t ud = septets ? (7 * udl + 7) / 8 : udl;
    if (septets && udl > 160)
        return fail(why, size, "user data length %u septets (160 at most)", udl);
    if (!septets && udl > 140)
        return fail(why, size, "user data length %u octets (140 at most)", udl);
    if (at + ud > n)
        return fail(why, size, "cut short: user data needs %zu octets, %zu left", ud, n - at);
    if (at + ud < n)
        return fail(why, size, "%zu octets after the end of the user data", n - at - ud);
    if (udhi && (ud == 0 || o[at] + 1u > ud))
        return fail(why, size, "user data header longer than the user data");
    return 0;
}

int check_cdma_transport(const char* hex, char* why, size_t size)
{
    uint8_t o[CHECK_OCTETS_MAX];
    size_t n = 0;
    if (to_octets(hex, o, &n, why, size) != 0)
        return -1;
    if (o[0] > 2)
        return fail(why, size, "unknown transport message type %u (0 point-to-point, 1 broadcast, 2 acknowledge)", o[0]);
    size_t at = 1;
    bool bearer = false;
    while (at < n) {
        if (at + 2 > n)
            return fail(why, size, "cut short in the header of the parameter at octet %zu", at);
        unsigned id = o[at], length = o[at + 1];
        if (id > 8)
            return fail(why, size, "unknown transport parameter %u at octet %zu", id, at);
        if (at + 2 + length > n)
            return fail(why, size, "cut short: parameter %u announces %u octets, %zu left", id, length, n - at - 2);
        if (id == 8) {
            bearer = true;
            size_t sub = at + 2, end = at + 2 + length;
            while (sub < end) {
                if (sub + 2 > end || sub + 2 + o[sub + 1] > end)
                    return fail(why, size, "bearer data subparameter %u at octet %zu runs past the bearer data", o[sub], sub);
                sub += 2 + o[sub + 1];
            }
        }
        at += 2 + length;
    }
    if (o[0] == 0 && !bearer)
        return fail(why, size, "point-to-point message without bearer data");
    return 0;
}
