// GSM 7-bit default alphabet and UTF-16 to and from UTF-8.
#include "gsm_alphabet.h"

namespace {

// Code point of every basic septet (3GPP TS 23.038 default alphabet); the
// escape position holds 0 and is never looked up.
constexpr uint16_t GSM_BASIC[128] = {
    0x0040, 0x00A3, 0x0024, 0x00A5, 0x00E8, 0x00E9, 0x00F9, 0x00EC,
    0x00F2, 0x00C7, 0x000A, 0x00D8, 0x00F8, 0x000D, 0x00C5, 0x00E5,
    0x0394, 0x005F, 0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8,
    0x03A3, 0x0398, 0x039E, 0x0000, 0x00C6, 0x00E6, 0x00DF, 0x00C9,
    0x0020, 0x0021, 0x0022, 0x0023, 0x00A4, 0x0025, 0x0026, 0x0027,
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x00A1, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7,
    0x00BF, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x00E4, 0x00F6, 0x00F1, 0x00FC, 0x00E0,
};

struct Extension {
    uint8_t code;
    uint16_t code_point;
};

// The extension table: form feed, ^ { } \ [ ~ ] | and the euro sign.
constexpr Extension GSM_EXTENSION[] = {
    {0x0A, 0x000C}, {0x14, 0x005E}, {0x28, 0x007B}, {0x29, 0x007D}, {0x2F, 0x005C},
    {0x3C, 0x005B}, {0x3D, 0x007E}, {0x3E, 0x005D}, {0x40, 0x007C}, {0x65, 0x20AC},
};

constexpr int NO_SEPTET = -1;

// Septet form of every code point below 0x100, one octet each: the basic
// septet, LATIN_ESCAPED | code for an extension character, or LATIN_NONE.
// The Greek capitals and the euro sign above it are looked up in the tables.
constexpr uint8_t LATIN_NONE = 0xFF;
constexpr uint8_t LATIN_ESCAPED = 0x80;
struct LatinSeptets {
    uint8_t form[256];
    constexpr LatinSeptets() : form()
    {
        for (int cp = 0; cp < 256; cp++)
            form[cp] = LATIN_NONE;
        for (int s = 0; s < 128; s++)
            if (s != GSM_ESCAPE && GSM_BASIC[s] < 256)
                form[GSM_BASIC[s]] = static_cast<uint8_t>(s);
        for (const Extension& e : GSM_EXTENSION)
            if (e.code_point < 256)
                form[e.code_point] = static_cast<uint8_t>(LATIN_ESCAPED | e.code);
    }
};
constexpr LatinSeptets LATIN;

// Code point of an extension code; a space for a code the table does not hold.
uint32_t extension_code_point(unsigned code)
{
    for (const Extension& e : GSM_EXTENSION)
        if (e.code == code)
            return e.code_point;
    return 0x20;
}

constexpr uint32_t REPLACEMENT = 0xFFFD;

} // namespace

int gsm_septet_of(uint32_t code_point)
{
    if (code_point < 256) {
        unsigned form = LATIN.form[code_point];
        return form == LATIN_NONE ? NO_SEPTET : form & LATIN_ESCAPED ? GSM_ESCAPE << 8 | (form & 0x7F) : form;
    }
    if (code_point == 0x20AC)
        return GSM_ESCAPE << 8 | 0x65;
    // Above Latin-1 only the Greek capitals Δ to Ω remain.
    if (code_point < 0x0393 || code_point > 0x03A9)
        return NO_SEPTET;
    for (int s = 0x10; s <= 0x1A; s++)
        if (GSM_BASIC[s] == code_point)
            return s;
    return NO_SEPTET;
}

int utf8_put(uint32_t cp, char* out, int size)
{
    int n = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    if (n >= size)
        return 0;
    if (n == 1) {
        out[0] = static_cast<char>(cp);
    } else {
        constexpr uint8_t LEAD[5] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (int k = n - 1; k > 0; k--) {
            out[k] = static_cast<char>(0x80 | (cp & 0x3F));
            cp >>= 6;
        }
        out[0] = static_cast<char>(LEAD[n] | cp);
    }
    return n;
}

namespace {

// Appends one character to out at *written; false when it does not fit.
inline bool append_utf8(uint32_t cp, char* out, int size, int* written)
{
    // Most texts are mostly ASCII: one byte, no encoding work.
    if (cp < 0x80 && *written + 1 < size) {
        out[(*written)++] = static_cast<char>(cp);
        return true;
    }
    int k = utf8_put(cp, out + *written, size - *written);
    *written += k;
    return k > 0;
}

} // namespace

int gsm_septets_to_utf8(const uint8_t* septets, int n, char* out, int size)
{
    int written = 0;
    for (int i = 0; i < n; i++) {
        unsigned s = septets[i] & 0x7F;
        uint32_t cp;
        if (s == GSM_ESCAPE) {
            unsigned code = i + 1 < n ? septets[++i] & 0x7F : 0;
            cp = extension_code_point(code);
        } else {
            cp = GSM_BASIC[s];
        }
        if (!append_utf8(cp, out, size, &written))
            break;
    }
    out[written] = '\0';
    return written;
}

int utf16be_to_utf8(const uint8_t* units, int n, char* out, int size)
{
    int written = 0;
    for (int i = 0; i + 1 < n; i += 2) {
        uint32_t cp = static_cast<uint32_t>(units[i] << 8 | units[i + 1]);
        if (cp == 0)
            continue;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < n) {
            uint32_t low = static_cast<uint32_t>(units[i + 2] << 8 | units[i + 3]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = REPLACEMENT;
        if (!append_utf8(cp, out, size, &written))
            break;
    }
    out[written] = '\0';
    return written;
}

int32_t utf8_next(const char* text, int length, int* pos)
{
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    unsigned b = in[*pos];
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) {
        ++*pos;
        return '?';
    }
    uint32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; k++) {
        if (*pos + k >= length) {
            *pos = length;
            return -1;
        }
        unsigned c = in[*pos + k];
        if ((c & 0xC0) != 0x80) {
            ++*pos;
            return '?';
        }
        cp = cp << 6 | (c & 0x3F);
    }
    constexpr uint32_t SHORTEST[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < SHORTEST[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++*pos;
        return '?';
    }
    *pos += extra + 1;
    return static_cast<int32_t>(cp);
}

int utf8_cut(const char* text, int max)
{
    int n = 0;
    while (n < max && text[n])
        n++;
    if (n < max || n == 0)
        return n;
    // Back off over continuation bytes to the lead byte; drop its sequence
    // when max cuts it.
    int lead = n - 1;
    while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80)
        lead--;
    unsigned b = static_cast<unsigned char>(text[lead]);
    int need = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    return lead + need > n ? lead : n;
}
