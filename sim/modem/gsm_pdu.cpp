#include "pdu.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr size_t MAX_SEPTETS = 160;   // one message of the default alphabet
constexpr size_t MAX_UD_OCTETS = 140; // one message of UCS2 or 8-bit data
constexpr size_t MAX_ADDRESS_DIGITS = 20;

bool is_dial_digits(const std::string& s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#'))
            return false;
    return true;
}

uint8_t semi_octet_code(char c)
{
    if (c == '*')
        return 0xA;
    if (c == '#')
        return 0xB;
    return static_cast<uint8_t>(c - '0');
}

// Digits as swapped semi-octets, F-padded.
void put_semi_octets(Bytes& out, const std::string& digits)
{
    for (size_t i = 0; i < digits.size(); i += 2) {
        uint8_t lo = semi_octet_code(digits[i]);
        uint8_t hi = i + 1 < digits.size() ? semi_octet_code(digits[i + 1]) : 0xF;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
}

uint8_t bcd_swapped(int value)
{
    return static_cast<uint8_t>((value % 10) << 4 | (value / 10) % 10);
}

bool put_address(Bytes& out, const std::string& number, std::string& err)
{
    bool plus = !number.empty() && number[0] == '+';
    std::string digits = plus ? number.substr(1) : number;
    if (is_dial_digits(digits)) {
        if (digits.size() > MAX_ADDRESS_DIGITS) {
            err = "address too long";
            return false;
        }
        out.push_back(static_cast<uint8_t>(digits.size()));
        out.push_back(plus ? 0x91 : 0x81);
        put_semi_octets(out, digits);
        return true;
    }
    // Alphanumeric sender: GSM-7 packed, length counted in useful semi-octets.
    std::u32string chars;
    Bytes septets;
    if (!utf8_decode(number, chars) || !gsm7_encode(chars, septets) || septets.empty() || septets.size() > 11) {
        err = "sender is neither a number nor up to 11 GSM characters";
        return false;
    }
    Bytes packed = pack_septets(septets, 0);
    out.push_back(static_cast<uint8_t>((septets.size() * 7 + 3) / 4));
    out.push_back(0xD0);
    out.insert(out.end(), packed.begin(), packed.end());
    return true;
}

struct Reader {
    const Bytes& b;
    size_t pos = 0;
    bool take(size_t n, const uint8_t*& p)
    {
        if (n > b.size() - pos)
            return false;
        p = b.data() + pos;
        pos += n;
        return true;
    }
    bool octet(uint8_t& v)
    {
        const uint8_t* p;
        if (!take(1, p))
            return false;
        v = *p;
        return true;
    }
};

std::string read_semi_octets(const uint8_t* p, size_t digits)
{
    static const char SYMBOLS[] = "0123456789*#abc?";
    std::string out;
    for (size_t i = 0; i < digits; ++i) {
        uint8_t nib = i % 2 ? p[i / 2] >> 4 : p[i / 2] & 0x0F;
        out.push_back(SYMBOLS[nib]);
    }
    return out;
}

enum class Alphabet { Gsm7, Octets, Ucs2, Unsupported };

// Alphabet of a data coding scheme (3GPP TS 23.038).
Alphabet alphabet_of(uint8_t dcs)
{
    uint8_t group = dcs >> 4;
    if (group <= 0x7) {
        if (dcs & 0x20)
            return Alphabet::Unsupported; // compressed
        switch ((dcs >> 2) & 3) {
        case 1:
            return Alphabet::Octets;
        case 2:
            return Alphabet::Ucs2;
        default:
            return Alphabet::Gsm7;
        }
    }
    if (group == 0xC || group == 0xD)
        return Alphabet::Gsm7;
    if (group == 0xE)
        return Alphabet::Ucs2;
    if (group == 0xF)
        return dcs & 0x04 ? Alphabet::Octets : Alphabet::Gsm7;
    return Alphabet::Unsupported;
}

} // namespace

bool parse_sms_time(const std::string& text, SmsTime& t)
{
    int used = -1;
    int n = sscanf(text.c_str(), "%2d/%2d/%2d,%2d:%2d:%2d%n", &t.year, &t.month, &t.day, &t.hour, &t.minute,
                   &t.second, &used);
    if (n < 6 || used < 0)
        return false;
    std::string zone = text.substr(used);
    t.tz_quarters = 0;
    if (!zone.empty()) {
        if (zone.size() < 2 || zone.size() > 3 || (zone[0] != '+' && zone[0] != '-') ||
            zone.find_first_not_of("0123456789", 1) != std::string::npos)
            return false;
        int q = atoi(zone.c_str() + 1);
        if (q > 79)
            return false;
        t.tz_quarters = zone[0] == '-' ? -q : q;
    }
    return t.year >= 0 && t.year <= 99 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour >= 0 &&
           t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

bool parse_concat(const std::string& text, DeliverRequest& req)
{
    int ref, total, seq, used = -1;
    if (sscanf(text.c_str(), "%d/%d/%d%n", &ref, &total, &seq, &used) != 3 || used != static_cast<int>(text.size()))
        return false;
    if (ref < 0 || ref > 255 || total < 1 || total > 255 || seq < 1 || seq > total)
        return false;
    req.concat_ref = ref;
    req.concat_total = total;
    req.concat_seq = seq;
    return true;
}

SmsTime sms_time_now()
{
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    SmsTime t;
    t.year = tm.tm_year % 100;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.tz_quarters = static_cast<int>(tm.tm_gmtoff / 900);
    return t;
}

bool build_gsm_deliver(const DeliverRequest& req, std::string& hex, std::string& err)
{
    std::u32string chars;
    if (!utf8_decode(req.text, chars)) {
        err = "text is not valid UTF-8";
        return false;
    }
    Bytes pdu;
    if (req.smsc.empty()) {
        pdu.push_back(0x00);
    } else {
        Bytes smsc;
        if (!put_address(smsc, req.smsc, err) || smsc[1] == 0xD0) {
            err = "bad service centre number";
            return false;
        }
        // The SMSC length counts octets (type of address included), not digits.
        pdu.push_back(static_cast<uint8_t>(smsc.size() - 1));
        pdu.insert(pdu.end(), smsc.begin() + 1, smsc.end());
    }
    bool concat = req.concat_ref >= 0;
    Bytes udh;
    if (concat && req.concat_ref16)
        udh = {0x06, 0x08, 0x04, static_cast<uint8_t>(req.concat_ref >> 8), static_cast<uint8_t>(req.concat_ref),
               static_cast<uint8_t>(req.concat_total), static_cast<uint8_t>(req.concat_seq)};
    else if (concat)
        udh = {0x05, 0x00, 0x03, static_cast<uint8_t>(req.concat_ref), static_cast<uint8_t>(req.concat_total),
               static_cast<uint8_t>(req.concat_seq)};
    pdu.push_back(concat ? 0x44 : 0x04); // SMS-DELIVER, no more messages waiting, header flag
    if (!put_address(pdu, req.from, err))
        return false;
    Bytes septets;
    bool gsm7 = !req.ucs2 && gsm7_encode(chars, septets);
    pdu.push_back(0x00);             // TP-PID
    pdu.push_back(gsm7 ? 0x00 : 0x08); // TP-DCS
    const SmsTime& t = req.time;
    for (int v : {t.year, t.month, t.day, t.hour, t.minute, t.second})
        pdu.push_back(bcd_swapped(v));
    int q = t.tz_quarters < 0 ? -t.tz_quarters : t.tz_quarters;
    pdu.push_back(static_cast<uint8_t>(bcd_swapped(q) | (t.tz_quarters < 0 ? 0x08 : 0x00)));
    if (gsm7) {
        // The header fills whole septets: six octets take seven with one fill bit.
        size_t header_septets = (udh.size() * 8 + 6) / 7;
        int fill = static_cast<int>(header_septets * 7 - udh.size() * 8);
        if (septets.size() + header_septets > MAX_SEPTETS) {
            err = "text longer than one message of GSM characters";
            return false;
        }
        Bytes ud = pack_septets(septets, fill);
        pdu.push_back(static_cast<uint8_t>(septets.size() + header_septets));
        pdu.insert(pdu.end(), udh.begin(), udh.end());
        pdu.insert(pdu.end(), ud.begin(), ud.end());
    } else {
        Bytes ud = utf16be_encode(chars);
        if (ud.size() + udh.size() > MAX_UD_OCTETS) {
            err = "text longer than one message of UCS2 characters";
            return false;
        }
        pdu.push_back(static_cast<uint8_t>(ud.size() + udh.size()));
        pdu.insert(pdu.end(), udh.begin(), udh.end());
        pdu.insert(pdu.end(), ud.begin(), ud.end());
    }
    hex = to_hex(pdu, true);
    return true;
}

bool build_gsm_deliver_parts(const DeliverRequest& req, std::vector<std::string>& hexes, std::string& err)
{
    hexes.clear();
    std::u32string chars;
    if (!utf8_decode(req.text, chars)) {
        err = "text is not valid UTF-8";
        return false;
    }
    Bytes all;
    bool gsm7 = !req.ucs2 && gsm7_encode(chars, all);
    auto cost = [&](char32_t c) {
        Bytes one;
        if (gsm7) {
            gsm7_encode(std::u32string(1, c), one);
            return one.size();
        }
        return c > 0xFFFF ? size_t{2} : size_t{1};
    };
    size_t total = 0;
    for (char32_t c : chars)
        total += cost(c);
    if (total <= (gsm7 ? MAX_SEPTETS : MAX_UD_OCTETS / 2)) {
        std::string hex;
        DeliverRequest one = req;
        one.concat_ref = -1;
        if (!build_gsm_deliver(one, hex, err))
            return false;
        hexes.push_back(hex);
        return true;
    }
    // What one part holds after its header of six (or, 16-bit reference, seven) octets.
    size_t room = gsm7 ? (req.concat_ref16 ? 152 : 153) : (req.concat_ref16 ? 66 : 67);
    std::vector<std::u32string> pieces(1);
    size_t used = 0;
    for (char32_t c : chars) {
        if (used + cost(c) > room) {
            pieces.emplace_back();
            used = 0;
        }
        pieces.back().push_back(c);
        used += cost(c);
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
        DeliverRequest part = req;
        part.text = utf8_encode(pieces[i]);
        part.concat_ref = req.concat_ref < 0 ? 0 : req.concat_ref;
        part.concat_total = static_cast<int>(pieces.size());
        part.concat_seq = static_cast<int>(i + 1);
        part.ucs2 = !gsm7;
        std::string hex;
        if (!build_gsm_deliver(part, hex, err))
            return false;
        hexes.push_back(hex);
    }
    return true;
}

long gsm_tpdu_length(const std::string& hex)
{
    Bytes b;
    if (!from_hex(hex, b) || b.empty() || b[0] + 1u > b.size())
        return -1;
    return static_cast<long>(b.size() - b[0] - 1);
}

bool parse_gsm_submit(const std::string& hex, long tpdu_len, SubmittedMessage& out, std::string& err)
{
    Bytes b;
    if (!from_hex(hex, b) || b.empty()) {
        err = "not hex";
        return false;
    }
    Reader r{b};
    uint8_t smsc_len = 0, fo = 0, mr = 0, da_len = 0, toa = 0, pid = 0, dcs = 0, udl = 0;
    const uint8_t* p;
    if (!r.octet(smsc_len) || !r.take(smsc_len, p)) {
        err = "SMSC information runs past the end";
        return false;
    }
    if (static_cast<long>(b.size() - r.pos) != tpdu_len) {
        char msg[96];
        snprintf(msg, sizeof msg, "TPDU is %zu octets, announced %ld", b.size() - r.pos, tpdu_len);
        err = msg;
        return false;
    }
    if (!r.octet(fo) || (fo & 0x03) != 0x01) {
        err = "not an SMS-SUBMIT";
        return false;
    }
    if (!r.octet(mr) || !r.octet(da_len) || !r.octet(toa) || da_len > MAX_ADDRESS_DIGITS ||
        !r.take((da_len + 1) / 2, p)) {
        err = "bad destination address";
        return false;
    }
    if ((toa & 0x70) == 0x50) {
        Bytes septets;
        unpack_septets(p, (da_len + 1) / 2, da_len * 4 / 7, 0, septets);
        out.number = utf8_encode(gsm7_decode(septets));
    } else {
        out.number = ((toa & 0x70) == 0x10 ? "+" : "") + read_semi_octets(p, da_len);
    }
    if (!r.octet(pid) || !r.octet(dcs)) {
        err = "truncated before TP-DCS";
        return false;
    }
    static const size_t VP_SIZE[4] = {0, 7, 1, 7};
    if (!r.take(VP_SIZE[(fo >> 3) & 3], p) || !r.octet(udl)) {
        err = "truncated before TP-UDL";
        return false;
    }
    const uint8_t* ud = b.data() + r.pos;
    size_t ud_octets = b.size() - r.pos;
    size_t header = 0;
    if (fo & 0x40) {
        if (ud_octets == 0 || ud[0] + 1u > ud_octets) {
            err = "bad user data header";
            return false;
        }
        header = ud[0] + 1u;
        for (size_t at = 1; at + 2 <= header;) {
            size_t len = ud[at + 1];
            if (at + 2 + len > header) {
                err = "bad information element in the user data header";
                return false;
            }
            const uint8_t* d = ud + at + 2;
            if (ud[at] == 0x00 && len == 3) {
                out.concat_ref = d[0];
                out.concat_total = d[1];
                out.concat_seq = d[2];
            } else if (ud[at] == 0x08 && len == 4) {
                out.concat_ref = d[0] << 8 | d[1];
                out.concat_total = d[2];
                out.concat_seq = d[3];
            }
            at += 2 + len;
        }
    }
    Alphabet alphabet = alphabet_of(dcs);
    std::u32string text;
    if (alphabet == Alphabet::Gsm7) {
        if (udl > MAX_SEPTETS || ud_octets != (udl * 7u + 7) / 8) {
            err = "user data length does not match TP-UDL";
            return false;
        }
        int fill = static_cast<int>((7 - header * 8 % 7) % 7);
        size_t header_septets = (header * 8 + fill) / 7;
        Bytes septets;
        if (header_septets > udl ||
            !unpack_septets(ud + header, ud_octets - header, udl - header_septets, fill, septets)) {
            err = "user data header longer than the user data";
            return false;
        }
        text = gsm7_decode(septets);
    } else if (alphabet == Alphabet::Unsupported) {
        err = "unsupported data coding scheme";
        return false;
    } else {
        if (udl > MAX_UD_OCTETS || ud_octets != udl || header > udl) {
            err = "user data length does not match TP-UDL";
            return false;
        }
        if (alphabet == Alphabet::Ucs2) {
            if (!utf16be_decode(ud + header, udl - header, text)) {
                err = "odd UCS2 length";
                return false;
            }
        } else {
            for (size_t i = header; i < udl; ++i)
                text.push_back(ud[i]); // 8-bit data shown as Latin-1
        }
    }
    out.text = utf8_encode(text);
    return true;
}
