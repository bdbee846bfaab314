#include "pdu.h"

#include <cstdio>

namespace {

constexpr int TELESERVICE_CMT95 = 4098; // wireless messaging teleservice (plain SMS)
constexpr int PARAM_TELESERVICE = 0;
constexpr int PARAM_ORIG_ADDRESS = 2;
constexpr int PARAM_DEST_ADDRESS = 4;
constexpr int PARAM_BEARER_DATA = 8;
constexpr int SUB_MESSAGE_ID = 0;
constexpr int SUB_USER_DATA = 1;
constexpr int SUB_TIMESTAMP = 3;
constexpr int ENC_OCTET = 0, ENC_IS91 = 1, ENC_ASCII7 = 2, ENC_IA5 = 3, ENC_UNICODE = 4, ENC_LATIN = 8,
              ENC_GSM7 = 9;
constexpr size_t MAX_ASCII_CHARS = 160;
constexpr size_t MAX_UNICODE_UNITS = 70;

// Most significant bit first, as every field of the transport layer.
class BitWriter {
public:
    void put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            if (pos_ % 8 == 0)
                out_.push_back(0);
            if (value >> i & 1)
                out_.back() |= static_cast<uint8_t>(0x80 >> (pos_ % 8));
            ++pos_;
        }
    }
    const Bytes& bytes() const { return out_; } // a partial last octet is zero-filled

private:
    Bytes out_;
    size_t pos_ = 0;
};

class BitReader {
public:
    BitReader(const uint8_t* data, size_t n) : data_(data), bits_(n * 8) {}
    bool get(int bits, uint32_t& value)
    {
        if (bits > 32 || pos_ + bits > bits_)
            return false;
        value = 0;
        for (int i = 0; i < bits; ++i, ++pos_)
            value = value << 1 | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1);
        return true;
    }
    size_t octets_used() const { return (pos_ + 7) / 8; }

private:
    const uint8_t* data_;
    size_t bits_;
    size_t pos_ = 0;
};

void put_param(Bytes& out, int id, const Bytes& body)
{
    out.push_back(static_cast<uint8_t>(id));
    out.push_back(static_cast<uint8_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

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

char dtmf_char(uint32_t code)
{
    static const char SYMBOLS[] = "?1234567890*#";
    return code >= 1 && code <= 12 ? SYMBOLS[code] : '\0';
}

bool address_body(const std::string& number, Bytes& body, std::string& err)
{
    if (number.empty() || number.size() > 32) {
        err = "sender must have 1 to 32 characters";
        return false;
    }
    bool dtmf = true;
    for (char c : number)
        dtmf = dtmf && dtmf_code(c) >= 0;
    BitWriter w;
    if (dtmf) {
        w.put(0, 1); // digit mode: 4-bit DTMF
        w.put(0, 1); // number mode: ANSI T1.607
        w.put(static_cast<uint32_t>(number.size()), 8);
        for (char c : number)
            w.put(static_cast<uint32_t>(dtmf_code(c)), 4);
    } else {
        // International numbers and names travel as ASCII characters.
        bool plus = number[0] == '+';
        std::string chars = plus ? number.substr(1) : number;
        for (char c : chars) {
            if (static_cast<unsigned char>(c) >= 0x80 || c < 0x20) {
                err = "sender must be ASCII";
                return false;
            }
        }
        w.put(1, 1);            // digit mode: 8-bit characters
        w.put(0, 1);            // number mode: telephone number
        w.put(plus ? 1 : 0, 3); // number type: international / unknown
        w.put(1, 4);            // numbering plan: ISDN/telephony
        w.put(static_cast<uint32_t>(chars.size()), 8);
        for (char c : chars)
            w.put(static_cast<uint8_t>(c), 8);
    }
    body = w.bytes();
    return true;
}

uint8_t bcd(int v)
{
    return static_cast<uint8_t>((v / 10 % 10) << 4 | v % 10);
}

bool parse_address(const uint8_t* p, size_t n, std::string& out)
{
    BitReader r(p, n);
    uint32_t digit_mode, number_mode, type = 0, plan, count, v;
    if (!r.get(1, digit_mode) || !r.get(1, number_mode))
        return false;
    if (digit_mode && (!r.get(3, type) || (!number_mode && !r.get(4, plan))))
        return false;
    if (!r.get(8, count))
        return false;
    out = digit_mode && type == 1 && !number_mode ? "+" : "";
    for (uint32_t i = 0; i < count; ++i) {
        if (!r.get(digit_mode ? 8 : 4, v))
            return false;
        char c = digit_mode ? static_cast<char>(v) : dtmf_char(v);
        if (c == '\0')
            return false;
        out.push_back(c);
    }
    return r.octets_used() == n;
}

bool parse_user_data(const uint8_t* p, size_t n, CdmaMessage& out, std::string& err)
{
    BitReader r(p, n);
    uint32_t encoding, count, v = 0;
    if (!r.get(5, encoding) || (encoding == ENC_IS91 && !r.get(8, v)) || !r.get(8, count)) {
        err = "truncated user data";
        return false;
    }
    out.encoding = static_cast<int>(encoding);
    std::u32string text;
    Bytes septets;
    for (uint32_t i = 0; i < count; ++i) {
        bool ok = true;
        switch (encoding) {
        case ENC_ASCII7:
        case ENC_IA5:
            ok = r.get(7, v);
            text.push_back(v);
            break;
        case ENC_GSM7:
            ok = r.get(7, v);
            septets.push_back(static_cast<uint8_t>(v));
            break;
        case ENC_UNICODE:
            ok = r.get(16, v);
            text.push_back(v);
            break;
        case ENC_OCTET:
        case ENC_LATIN:
            ok = r.get(8, v);
            text.push_back(v);
            break;
        default:
            err = "unsupported user data encoding";
            return false;
        }
        if (!ok) {
            err = "user data runs past its subparameter";
            return false;
        }
    }
    if (r.octets_used() != n) {
        err = "user data length does not match its subparameter";
        return false;
    }
    if (encoding == ENC_GSM7) {
        text = gsm7_decode(septets);
    } else if (encoding == ENC_UNICODE) {
        Bytes units = utf16be_encode(text); // reassemble surrogate pairs
        utf16be_decode(units.data(), units.size(), text);
    }
    out.text = utf8_encode(text);
    return true;
}

bool parse_bearer_data(const uint8_t* p, size_t n, CdmaMessage& out, std::string& err)
{
    size_t pos = 0;
    while (pos < n) {
        if (n - pos < 2 || p[pos + 1] > n - pos - 2) {
            err = "bearer data subparameter runs past the end";
            return false;
        }
        int id = p[pos];
        size_t len = p[pos + 1];
        const uint8_t* body = p + pos + 2;
        if (id == SUB_MESSAGE_ID) {
            BitReader r(body, len);
            uint32_t type, msg_id;
            if (len != 3 || !r.get(4, type) || !r.get(16, msg_id)) {
                err = "bad message identifier";
                return false;
            }
            out.bearer_type = static_cast<int>(type);
            out.msg_id = static_cast<int>(msg_id);
        } else if (id == SUB_USER_DATA) {
            if (!parse_user_data(body, len, out, err))
                return false;
        } else if (id == SUB_TIMESTAMP) {
            if (len != 6) {
                err = "bad time stamp";
                return false;
            }
            out.timestamp = to_hex(Bytes(body, body + 6), false);
        }
        pos += 2 + len;
    }
    return true;
}

} // namespace

bool build_cdma_deliver(const DeliverRequest& req, std::string& hex, std::string& err)
{
    std::u32string chars;
    if (!utf8_decode(req.text, chars)) {
        err = "text is not valid UTF-8";
        return false;
    }
    bool ascii = !req.ucs2;
    for (char32_t c : chars)
        ascii = ascii && c < 0x80;
    bool concat = req.concat_ref >= 0;
    Bytes udh;
    if (concat)
        udh = {0x05, 0x00, 0x03, static_cast<uint8_t>(req.concat_ref), static_cast<uint8_t>(req.concat_total),
               static_cast<uint8_t>(req.concat_seq)};
    // The header counts as seven septets or three Unicode units.
    size_t header_fields = concat ? (ascii ? 7 : 3) : 0;
    if (chars.size() + header_fields > (ascii ? MAX_ASCII_CHARS : MAX_UNICODE_UNITS)) {
        err = ascii ? "text longer than 160 characters" : "text longer than 70 Unicode characters";
        return false;
    }
    Bytes msg{0x00}; // point-to-point
    put_param(msg, PARAM_TELESERVICE, {TELESERVICE_CMT95 >> 8, TELESERVICE_CMT95 & 0xFF});
    Bytes address;
    if (!address_body(req.from, address, err))
        return false;
    put_param(msg, PARAM_ORIG_ADDRESS, address);

    Bytes bearer;
    BitWriter id;
    id.put(1, 4); // deliver
    id.put(req.msg_id & 0xFFFF, 16);
    id.put(concat ? 1 : 0, 1); // header indicator
    id.put(0, 3);              // reserved
    put_param(bearer, SUB_MESSAGE_ID, id.bytes());
    BitWriter ud;
    if (ascii) {
        ud.put(ENC_ASCII7, 5);
        ud.put(static_cast<uint32_t>(chars.size() + header_fields), 8);
        for (uint8_t b : udh)
            ud.put(b, 8);
        if (concat)
            ud.put(0, 1); // fill bit: the text starts on a septet boundary
        for (char32_t c : chars)
            ud.put(c, 7);
    } else {
        Bytes units = utf16be_encode(chars);
        if (units.size() / 2 + header_fields > MAX_UNICODE_UNITS) {
            err = "text longer than 70 Unicode units";
            return false;
        }
        ud.put(ENC_UNICODE, 5);
        ud.put(static_cast<uint32_t>(units.size() / 2 + header_fields), 8);
        for (uint8_t b : udh)
            ud.put(b, 8);
        for (uint8_t b : units)
            ud.put(b, 8);
    }
    put_param(bearer, SUB_USER_DATA, ud.bytes());
    const SmsTime& t = req.time;
    put_param(bearer, SUB_TIMESTAMP, {bcd(t.year), bcd(t.month), bcd(t.day), bcd(t.hour), bcd(t.minute), bcd(t.second)});
    put_param(msg, PARAM_BEARER_DATA, bearer);
    hex = to_hex(msg, false);
    return true;
}

bool parse_cdma_message(const Bytes& b, CdmaMessage& out, std::string& err)
{
    out = CdmaMessage();
    if (b.empty()) {
        err = "empty message";
        return false;
    }
    out.msg_type = b[0];
    size_t pos = 1;
    while (pos < b.size()) {
        if (b.size() - pos < 2 || b[pos + 1] > b.size() - pos - 2) {
            err = "parameter runs past the end";
            return false;
        }
        int id = b[pos];
        size_t len = b[pos + 1];
        const uint8_t* body = b.data() + pos + 2;
        if (id == PARAM_TELESERVICE) {
            if (len != 2) {
                err = "bad teleservice";
                return false;
            }
            out.teleservice = body[0] << 8 | body[1];
        } else if (id == PARAM_ORIG_ADDRESS || id == PARAM_DEST_ADDRESS) {
            out.address_param = id;
            if (!parse_address(body, len, out.address)) {
                err = "bad address";
                return false;
            }
        } else if (id == PARAM_BEARER_DATA) {
            if (!parse_bearer_data(body, len, out, err))
                return false;
        }
        pos += 2 + len;
    }
    return true;
}

bool parse_cdma_submit(const std::string& hex, long length, SubmittedMessage& out, std::string& err)
{
    Bytes b;
    if (!from_hex(hex, b)) {
        err = "not hex";
        return false;
    }
    if (static_cast<long>(b.size()) != length) {
        char msg[96];
        snprintf(msg, sizeof msg, "message is %zu octets, announced %ld", b.size(), length);
        err = msg;
        return false;
    }
    CdmaMessage m;
    if (!parse_cdma_message(b, m, err))
        return false;
    if (m.msg_type != 0 || m.address_param != PARAM_DEST_ADDRESS || m.bearer_type != 2 || m.encoding < 0) {
        err = "not a point-to-point submit with destination and user data";
        return false;
    }
    out.number = m.address;
    out.text = m.text;
    return true;
}
