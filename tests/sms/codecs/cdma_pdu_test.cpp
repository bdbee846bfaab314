#include "cdma_pdu.h"

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_capture.h"

namespace {

std::string hex(const std::vector<uint8_t>& octets)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t o : octets) {
        text += digits[o >> 4];
        text += digits[o & 15];
    }
    return text;
}

// Packs values MSB first at the given widths, zero-padding the last octet.
struct Bits {
    std::vector<uint8_t> octets;
    int position = 0;

    Bits& put(uint32_t value, int width)
    {
        for (int i = width - 1; i >= 0; i--) {
            if (position % 8 == 0)
                octets.push_back(0);
            if ((value >> i) & 1)
                octets.back() |= 0x80 >> (position % 8);
            position++;
        }
        return *this;
    }
    Bits& text7(const std::string& s)
    {
        for (unsigned char c : s)
            put(c, 7);
        return *this;
    }
    Bits& raw(const std::vector<uint8_t>& v)
    {
        for (uint8_t o : v)
            put(o, 8);
        return *this;
    }
};

std::vector<uint8_t> param(int id, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> out = {static_cast<uint8_t>(id), static_cast<uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> user_data(int encoding, int fields, const Bits& chars)
{
    Bits b;
    b.put(encoding, 5).put(fields, 8);
    for (int i = 0; i < chars.position; i++)
        b.put((chars.octets[i / 8] >> (7 - i % 8)) & 1, 1);
    return b.octets;
}

// A delivered message: teleservice, sender 10086 (DTMF), bearer data of the given
// subparameters plus a message identifier (deliver, id 0x1234) and a time stamp.
std::string deliver(int teleservice, const std::vector<uint8_t>& subparams, int header_ind = 0)
{
    std::vector<uint8_t> m = {0};
    auto add = [&](const std::vector<uint8_t>& p) { m.insert(m.end(), p.begin(), p.end()); };
    add(param(0, {static_cast<uint8_t>(teleservice >> 8), static_cast<uint8_t>(teleservice)}));
    add(param(2, {0x01, 0x46, 0xAA, 0x18}));
    std::vector<uint8_t> bearer = param(0, Bits().put(1, 4).put(0x1234, 16).put(header_ind, 1).put(0, 3).octets);
    bearer.insert(bearer.end(), subparams.begin(), subparams.end());
    std::vector<uint8_t> stamp = param(3, {0x12, 0x03, 0x14, 0x15, 0x26, 0x37});
    bearer.insert(bearer.end(), stamp.begin(), stamp.end());
    add(param(8, bearer));
    return hex(m);
}

CdmaShortMessage decode(const std::string& text)
{
    CdmaShortMessage msg;
    memset(&msg, 0x5A, sizeof msg);
    cdma_decode_pdu(text.c_str(), static_cast<int>(text.size()), &msg);
    return msg;
}

std::string encode(CdmaShortMessage* msg, int* octets = nullptr)
{
    char pdu[CDMA_PDU_TEXT_MAX];
    memset(pdu, 0, sizeof pdu);
    int n = cdma_encode_pdu(msg, pdu);
    if (octets)
        *octets = n;
    return n ? pdu : "";
}

CdmaShortMessage outgoing(const char* number, const char* text, uint8_t dcs = 0)
{
    CdmaShortMessage msg = {};
    snprintf(msg.tpa, sizeof msg.tpa, "%s", number);
    snprintf(msg.tp_ud, sizeof msg.tp_ud, "%s", text);
    msg.msgLen = static_cast<uint8_t>(strlen(text));
    msg.tp_dcs = dcs;
    return msg;
}

std::vector<uint8_t> octets_of(const std::string& text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ud_text(const CdmaShortMessage& msg)
{
    return std::string(msg.tp_ud, msg.msgLen);
}

} // namespace

TEST(CdmaEncode, TransportMessagesMatchTheModemExamples)
{
    CdmaShortMessage a = outgoing("10086", "Hi");
    int n = 0;
    EXPECT_EQ(encode(&a, &n),
              "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101");
    EXPECT_EQ(n, 44);
    EXPECT_EQ(a.encoding, 2);
    CdmaShortMessage b = outgoing("13800138000", "hello");
    EXPECT_EQ(encode(&b, &n),
              "0000021002040702c4e2a84e2aa8060100081e00032000000106102e8cbb366f03060000000000000501000801000d0101");
    EXPECT_EQ(n, 49);
}

TEST(CdmaEncode, SingleSegmentHeaderIsDropped)
{
    CdmaShortMessage msg = outgoing("10086", "");
    memcpy(msg.tp_ud, "\x05\x00\x03\x2A\x01\x01Hi", 8);
    msg.msgLen = 8;
    msg.header_ind = 1;
    EXPECT_EQ(encode(&msg),
              "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101");
}

TEST(CdmaEncode, NumbersOnlyOfDtmfCharactersAreAccepted)
{
    CdmaShortMessage plus = outgoing("+8613800138000", "hello");
    EXPECT_EQ(encode(&plus), "");
    CdmaShortMessage odd = outgoing("1-2", "hello");
    EXPECT_EQ(encode(&odd), "");
    CdmaShortMessage star = outgoing("*#0", "x");
    EXPECT_NE(encode(&star), "");

    // 32 digits fill tpa without a terminator and are still read no further.
    CdmaShortMessage longest = outgoing("", "x");
    memset(longest.tpa, '9', sizeof longest.tpa);
    longest.tp_pid = '9';
    int n = 0;
    std::string pdu = encode(&longest, &n);
    ASSERT_NE(n, 0);
    EXPECT_EQ(pdu.substr(10, 8), "04120826");  // 18 octets of address, 32 fields

    uint8_t out[20];
    EXPECT_EQ(ascii_to_pbcd(out, "123456789012345678901234567890123", 33), 0);
    EXPECT_EQ(ascii_to_pbcd(out, "10*#", 4), 1);
    EXPECT_EQ(out[0], 0x1A);
    EXPECT_EQ(out[1], 0xBC);
}

TEST(CdmaEncode, OptionsAndHighBytes)
{
    CdmaShortMessage msg = outgoing("10086", "\xC8i");
    msg.validity = 0x20;
    msg.priority = 2;
    msg.read_ack = 1;
    std::string pdu = encode(&msg);
    // High bit of 0xC8 is dropped: the same characters as "Hi".
    EXPECT_NE(pdu.find("010410148d20"), std::string::npos);
    EXPECT_NE(pdu.find("050120"), std::string::npos);
    EXPECT_NE(pdu.find("080180"), std::string::npos);
    EXPECT_NE(pdu.find("0a0120"), std::string::npos);
}

TEST(CdmaEncode, TextThatDoesNotFitOneMessageIsRefused)
{
    CdmaShortMessage msg = outgoing("10086", "");
    memset(msg.tp_ud, 'A', sizeof msg.tp_ud);
    msg.tp_dcs = 8;
    EXPECT_EQ(encode(&msg), "");
    // 240 octet characters do not fit either; 200 do.
    msg.tp_dcs = 4;
    msg.msgLen = 240;
    EXPECT_EQ(encode(&msg), "");
    msg.msgLen = 200;
    EXPECT_NE(encode(&msg), "");
}

TEST(CdmaCodec, WhatTheEncoderWritesTheParserReadsBack)
{
    CdmaShortMessage msg = outgoing("13800138000", "hello world");
    msg.validity = 7;
    msg.priority = 1;
    msg.user_ack = 1;
    int n = 0;
    std::string pdu = encode(&msg, &n);
    std::vector<uint8_t> octets = octets_of(pdu);
    ASSERT_EQ(static_cast<int>(octets.size()), n);

    CdmaSmsMessage parsed;
    EXPECT_EQ(cdma_parse_transport(octets.data(), n, &parsed), 0);
    EXPECT_EQ(parsed.msg_type, 0u);
    EXPECT_EQ(parsed.teleservice_id, 4098u);
    EXPECT_EQ(parsed.present, 0x2u | 0x8 | 0x20 | 0x80 | 0x400 | 0x1000 | 0x8000);
    EXPECT_EQ(parsed.address.digit_mode, 0u);
    EXPECT_EQ(parsed.address.num_fields, 11);
    EXPECT_EQ(parsed.address.chars[0], 0x13);
    EXPECT_EQ(parsed.bearer_msg_type, 2u);
    EXPECT_EQ(parsed.message_id, 0);
    EXPECT_EQ(parsed.header_ind, 0);
    EXPECT_EQ(parsed.user_data[0].encoding, 2u);
    EXPECT_EQ(parsed.user_data[0].num_fields, 11);
    EXPECT_EQ(parsed.validity_relative, 7);
    EXPECT_EQ(parsed.priority, 1u);
    EXPECT_EQ(parsed.user_ack, 1);
    EXPECT_EQ(parsed.dak, 0);
    EXPECT_EQ(parsed.language, 1u);

    // And the decoder gives back number and text.
    CdmaShortMessage back = decode(pdu);
    EXPECT_STREQ(back.tpa, "13800138000");
    EXPECT_STREQ(back.tp_ud, "hello world");
    EXPECT_EQ(back.msgLen, 11);
}

TEST(CdmaCodec, ConcatenatedSevenBitRoundTrip)
{
    CdmaShortMessage msg = outgoing("10086", "");
    memcpy(msg.tp_ud, "\x05\x00\x03\x2A\x03\x01Hello", 11);
    msg.msgLen = 11;
    msg.header_ind = 1;
    CdmaShortMessage back = decode(encode(&msg));
    EXPECT_EQ(back.ref, 42);
    EXPECT_EQ(back.seg, 3);
    EXPECT_EQ(back.curSeg, 1);
    EXPECT_EQ(back.msgLen, 11);
    EXPECT_EQ(memcmp(back.tp_ud, "\x05\x00\x03\x2A\x03\x01Hello", 12), 0);
}

TEST(CdmaCodec, PortHeaderBecomesAWdpDatagram)
{
    CdmaShortMessage msg = outgoing("10086", "");
    memcpy(msg.tp_ud, "\x06\x05\x04\x0B\x84\x23\xF0" "AB", 9);
    msg.msgLen = 9;
    msg.header_ind = 1;
    msg.tp_dcs = 4;
    std::vector<uint8_t> octets = octets_of(encode(&msg));
    CdmaSmsMessage parsed;
    cdma_parse_transport(octets.data(), static_cast<int>(octets.size()), &parsed);
    EXPECT_EQ(parsed.teleservice_id, 4100u);
    EXPECT_EQ(parsed.message_id, 1);
    EXPECT_EQ(parsed.header_ind, 0);
    EXPECT_EQ(parsed.user_data[0].encoding, 0u);
    ASSERT_EQ(parsed.user_data[0].num_fields, 10);
    EXPECT_EQ(memcmp(parsed.user_data[0].chars, "\x00\x01\x00\x23\xF0\x0B\x84\x00" "AB", 10), 0);
}

TEST(CdmaDecode, PlainSevenBitText)
{
    CdmaShortMessage msg = decode(deliver(4098, param(1, user_data(2, 5, Bits().text7("hello")))));
    EXPECT_STREQ(msg.tpa, "10086");
    EXPECT_STREQ(msg.tp_ud, "hello");
    EXPECT_EQ(msg.msgLen, 5);
    EXPECT_EQ(msg.tp_dcs, 0);
    EXPECT_EQ(msg.encoding, 2);
    EXPECT_EQ(msg.ref, 0);
    EXPECT_EQ(msg.seg, 1);
    EXPECT_EQ(msg.curSeg, 1);
    EXPECT_EQ(msg.msg_id, 0x1234);
    EXPECT_EQ(msg.bearer_msg_type, 1);
    EXPECT_EQ(msg.teleservice_id, 4098);
    EXPECT_EQ(memcmp(msg.scts, "\x12\x03\x14\x15\x26\x37\x00", 7), 0);
    char stamp[13];
    cdma_scts_to_text(&msg, stamp);
    EXPECT_STREQ(stamp, "120314152637");
    EXPECT_STREQ(msg.sca, "");

    EXPECT_STREQ(decode(deliver(4098, param(1, user_data(2, 5, Bits().text7("ab@cd"))))).tp_ud, "ab");
}

TEST(CdmaDecode, LowerAndUpperCaseHexAreTheSame)
{
    std::string text = deliver(4098, param(1, user_data(2, 2, Bits().text7("Hi"))));
    std::string upper = text;
    for (char& c : upper)
        c = static_cast<char>(toupper(c));
    CdmaShortMessage a = decode(text);
    CdmaShortMessage b = decode(upper);
    EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
    EXPECT_STREQ(b.tp_ud, "Hi");
}

TEST(CdmaDecode, UnicodeKeepsRawUnits)
{
    CdmaShortMessage msg = decode(deliver(4098, param(1, user_data(4, 2, Bits().raw({0, 'A', 0x4E, 0x2D})))));
    EXPECT_EQ(msg.tp_dcs, 8);
    EXPECT_EQ(msg.msgLen, 4);
    EXPECT_EQ(memcmp(msg.tp_ud, "\x00" "A\x4E\x2D", 4), 0);
    EXPECT_STREQ(msg.tp_ud, "");
    EXPECT_EQ(msg.seg, 1);

    CdmaShortMessage part = decode(deliver(4098, param(1, user_data(4, 4, Bits().raw({5, 0, 3, 9, 2, 2, 0, 'B'})))));
    EXPECT_EQ(part.ref, 9);
    EXPECT_EQ(part.seg, 2);
    EXPECT_EQ(part.curSeg, 2);
    EXPECT_EQ(part.msgLen, 8);
}

TEST(CdmaDecode, SevenBitConcatenationHeaders)
{
    // Header in octets, a fill bit, then septets.
    Bits octet_header;
    octet_header.raw({5, 0, 3, 0x2A, 3, 1}).put(0, 1).text7("Hi");
    CdmaShortMessage a = decode(deliver(4098, param(1, user_data(2, 9, octet_header))));
    EXPECT_EQ(a.ref, 42);
    EXPECT_EQ(a.seg, 3);
    EXPECT_EQ(a.curSeg, 1);
    EXPECT_EQ(a.msgLen, 8);
    EXPECT_EQ(memcmp(a.tp_ud, "\x05\x00\x03\x2A\x03\x01Hi\x00", 9), 0);

    // Header written as septets.
    Bits septet_header;
    septet_header.put(5, 7).put(0, 7).put(3, 7).put(7, 7).put(2, 7).put(2, 7).text7("Yo");
    CdmaShortMessage b = decode(deliver(4098, param(1, user_data(2, 8, septet_header))));
    EXPECT_EQ(b.ref, 7);
    EXPECT_EQ(b.seg, 2);
    EXPECT_EQ(b.curSeg, 2);
    EXPECT_EQ(b.msgLen, 8);
    EXPECT_EQ(std::string(b.tp_ud + 6), "Yo");

    // 16-bit reference header in octets: seven header octets, then septets.
    Bits long_ref;
    long_ref.raw({6, 8, 4, 0x01, 0x2C, 4, 3}).text7("Ok");
    CdmaShortMessage c = decode(deliver(4098, param(1, user_data(2, 10, long_ref))));
    EXPECT_EQ(c.ref, 0x2C);
    EXPECT_EQ(c.seg, 4);
    EXPECT_EQ(c.curSeg, 3);
    EXPECT_EQ(c.msgLen, 9);
    EXPECT_EQ(std::string(c.tp_ud + 7), "Ok");
}

TEST(CdmaDecode, WdpDatagramOnAListedPortKeepsItsFirstByte)
{
    Bits wdp;
    wdp.raw({0, 2, 0, 0x0B, 0x84, 0x0B, 0x84, 'A', 'B', 'C'});
    CdmaShortMessage msg = decode(deliver(4100, param(1, user_data(0, 10, wdp)), 1));
    EXPECT_EQ(msg.seg, 2);
    EXPECT_EQ(msg.curSeg, 0);
    EXPECT_EQ(msg.SrcPort, 2948);
    EXPECT_EQ(msg.DstPort, 2948);
    EXPECT_EQ(msg.ref, 0x34);
    EXPECT_EQ(ud_text(msg), "ABC");
    EXPECT_EQ(msg.header_ind, 0);
    EXPECT_EQ(msg.tp_dcs, 4);

    Bits other;
    other.raw({0, 2, 0, 0x0B, 0x84, 0x23, 0xF0, 'A', 'B', 'C'});
    CdmaShortMessage push = decode(deliver(4100, param(1, user_data(0, 10, other))));
    EXPECT_EQ(push.DstPort, 9200);
    EXPECT_EQ(push.curSeg, 1);
    EXPECT_EQ(ud_text(push), "BC");
}

TEST(CdmaDecode, LaterWdpSegmentHasNoPorts)
{
    Bits wdp;
    wdp.raw({0, 2, 1, 'X', 'A', 'B'});
    CdmaShortMessage msg = decode(deliver(4100, param(1, user_data(0, 6, wdp))));
    EXPECT_EQ(msg.SrcPort, 0);
    EXPECT_EQ(msg.DstPort, 0);
    EXPECT_EQ(msg.curSeg, 2);
    EXPECT_EQ(ud_text(msg), "AB");
    // On teleservice 65002 nothing is removed.
    CdmaShortMessage other = decode(deliver(65002, param(1, user_data(0, 6, wdp))));
    EXPECT_EQ(other.curSeg, 1);
    EXPECT_EQ(ud_text(other), "XAB");
}

TEST(CdmaDecode, InnerMessageIdentifierAndUserData)
{
    std::vector<uint8_t> inner = user_data(0, 10, Bits().raw({0, 1, 0, 0x0B, 0x84, 0x23, 0xF0, 'A', 'B', 'C'}));
    Bits ud;
    ud.raw({0, 3}).put(1, 4).put(0x0042, 16).put(0, 1).put(0, 3).raw({1, static_cast<uint8_t>(inner.size())}).raw(inner);
    CdmaShortMessage msg = decode(deliver(4100, param(1, user_data(0, ud.position / 8, ud))));
    EXPECT_EQ(msg.msg_id, 0x42);
    EXPECT_EQ(msg.ref, 0x42);
    EXPECT_EQ(msg.seg, 1);
    EXPECT_EQ(msg.curSeg, 1);
    EXPECT_EQ(msg.SrcPort, 0x0B84);
    EXPECT_EQ(ud_text(msg), "BC");

    // A WDP datagram of three segments starts 00 03 and is taken for an inner identifier;
    // its "user data" does not parse, so the message stays empty.
    Bits three;
    three.raw({0, 3, 0, 0x0B, 0x84, 0x0B, 0x84, 'A'});
    CdmaShortMessage empty = decode(deliver(4100, param(1, user_data(0, 8, three))));
    EXPECT_STREQ(empty.tpa, "");
    EXPECT_EQ(empty.msgLen, 0);
    EXPECT_EQ(empty.teleservice_id, 0);
}

TEST(CdmaDecode, OctetDataLooksForAHeaderOnlyWhenIndicated)
{
    Bits data;
    data.raw({5, 0, 3, 1, 2, 2, 'o', 'k'});
    CdmaShortMessage plain = decode(deliver(4098, param(1, user_data(0, 8, data))));
    EXPECT_EQ(plain.seg, 1);
    EXPECT_EQ(plain.tp_dcs, 4);
    EXPECT_EQ(plain.msgLen, 8);
    CdmaShortMessage flagged = decode(deliver(4098, param(1, user_data(0, 8, data)), 1));
    EXPECT_EQ(flagged.seg, 2);
    EXPECT_EQ(flagged.curSeg, 2);
    EXPECT_EQ(flagged.header_ind, 1);
}

TEST(CdmaDecode, AttributesFromOptionalSubparameters)
{
    std::vector<uint8_t> subs = param(1, user_data(2, 1, Bits().text7("x")));
    auto add = [&](const std::vector<uint8_t>& p) { subs.insert(subs.end(), p.begin(), p.end()); };
    add(param(8, {0xC0}));   // priority 3
    add(param(11, {0x15}));  // 15 messages, BCD
    add(param(15, {0x00}));  // display mode 0: immediate
    add(param(20, {0x87}));  // error class 2, status 7
    CdmaShortMessage msg = decode(deliver(4099, subs));
    EXPECT_EQ(msg.priority, 3);
    EXPECT_EQ(msg.num_messages, 15);
    EXPECT_EQ(msg.immediate_display, 1);
    EXPECT_EQ(msg.error_class, 2);
    EXPECT_EQ(msg.status_code, 7);
    EXPECT_EQ(msg.vmn, 1);

    subs[subs.size() - 7] = 0xA5;  // the BCD octet 0xA5 reads above 99
    EXPECT_EQ(decode(deliver(4098, subs)).num_messages, 99);
}

TEST(CdmaParse, UnknownSubparameterEndsOnlyTheBearerData)
{
    std::vector<uint8_t> m = {0};
    auto add = [&](const std::vector<uint8_t>& p) { m.insert(m.end(), p.begin(), p.end()); };
    add(param(0, {0x10, 0x02}));
    std::vector<uint8_t> bearer = param(8, {0x80});
    std::vector<uint8_t> bad = param(21, {1, 2, 3});
    std::vector<uint8_t> stamp = param(3, {1, 2, 3, 4, 5, 6});
    bearer.insert(bearer.end(), bad.begin(), bad.end());
    bearer.insert(bearer.end(), stamp.begin(), stamp.end());
    add(param(8, bearer));
    add(param(1, {0x00, 0x07}));
    CdmaSmsMessage parsed;
    EXPECT_EQ(cdma_parse_transport(m.data(), static_cast<int>(m.size()), &parsed), 0);
    EXPECT_EQ(parsed.priority, 2u);
    EXPECT_EQ(parsed.present & 0x20, 0u);
    EXPECT_EQ(parsed.service_category, 7u);
    EXPECT_EQ(parsed.present & 0x1, 0x1u);
}

TEST(CdmaParse, MalformedTransportParameterStopsParsing)
{
    std::vector<uint8_t> m = {0, 0, 3, 0x10, 0x02, 0x00, 1, 2, 0, 7};
    CdmaSmsMessage parsed;
    EXPECT_EQ(cdma_parse_transport(m.data(), static_cast<int>(m.size()), &parsed), -1);
    EXPECT_EQ(parsed.service_category, 0u);
    EXPECT_EQ(cdma_parse_transport(m.data(), 0, &parsed), 0);
    EXPECT_EQ(parsed.present, 0u);
}

TEST(CdmaParse, FieldsBeyondTheRecordAreCut)
{
    // 100 DTMF digits: too many for tpa, which stays empty; 40 8-bit characters are cut.
    std::vector<uint8_t> m = {0};
    std::vector<uint8_t> digits = Bits().put(0, 2).put(100, 8).octets;
    for (int i = 0; i < 50; i++)
        digits.push_back(0x11);
    Bits wide;
    wide.put(1, 1).put(0, 1).put(0, 3).put(0, 4).put(40, 8);
    for (int i = 0; i < 40; i++)
        wide.put('7', 8);
    std::vector<uint8_t> a = param(2, wide.octets);
    m.insert(m.end(), a.begin(), a.end());
    CdmaShortMessage msg = decode(hex(m));
    EXPECT_EQ(std::string(msg.tpa), std::string(31, '7'));

    // 32 DTMF digits would fill tpa without a terminator: the last one is cut.
    std::vector<uint8_t> exact = {0};
    Bits nines;
    nines.put(0, 2).put(32, 8);
    for (int i = 0; i < 32; i++)
        nines.put(9, 4);
    std::vector<uint8_t> digits32 = nines.octets;
    std::vector<uint8_t> p32 = param(4, digits32);
    exact.insert(exact.end(), p32.begin(), p32.end());
    EXPECT_EQ(std::string(decode(hex(exact)).tpa), std::string(31, '9'));

    std::vector<uint8_t> d = {0};
    std::vector<uint8_t> p = param(4, digits);
    d.insert(d.end(), p.begin(), p.end());
    EXPECT_STREQ(decode(hex(d)).tpa, "");

    // Twelve program results, four multiple-encoding entries.
    std::vector<uint8_t> results(36, 0x11);
    Bits multi;
    for (int i = 0; i < 4; i++)
        multi.put(0, 5).put(1, 8).put('m', 8);
    std::vector<uint8_t> subs = param(19, results);
    std::vector<uint8_t> me = param(16, multi.octets);
    subs.insert(subs.end(), me.begin(), me.end());
    std::string text = deliver(4098, subs);
    std::vector<uint8_t> octets = octets_of(text);
    CdmaSmsMessage parsed;
    cdma_parse_transport(octets.data(), static_cast<int>(octets.size()), &parsed);
    EXPECT_EQ(parsed.program_result_count, 10);
    EXPECT_EQ(parsed.ud_count, 2);
    EXPECT_TRUE(parsed.present & 0x40000);
    EXPECT_TRUE(parsed.present & 0x20);
}

TEST(CdmaDecode, OverlongTextIsCutToTheWorkBuffer)
{
    std::string text = deliver(4098, param(1, user_data(2, 2, Bits().text7("Hi"))));
    std::string padded = text + std::string(4000, 'f');
    CdmaShortMessage msg = decode(padded);
    EXPECT_STREQ(msg.tp_ud, "Hi");
    // A length beyond the text stops at its terminator.
    CdmaShortMessage short_len;
    cdma_decode_pdu(text.c_str(), 5000, &short_len);
    EXPECT_STREQ(short_len.tp_ud, "Hi");
}

TEST(CdmaLog, EncoderAndWdpDebugLines)
{
    LogCapture log;
    CdmaShortMessage plus = outgoing("+10086", "x");
    encode(&plus);
    CdmaShortMessage ok = outgoing("10086", "x");
    encode(&ok);
    Bits wdp;
    wdp.raw({0, 2, 0, 0x0B, 0x84, 0x23, 0xF0, 7, 'A', 'B', 'C'});
    decode(deliver(4100, param(1, user_data(0, 11, wdp))));
    std::string text = log.text();
    EXPECT_NE(text.find("Debug\xEF\xBC\x9A p_src[0]=2b, ffffffff\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Debug\xEF\xBC\x9A ascii_to_pbcd error\n"), std::string::npos);
    EXPECT_NE(text.find("Debug\xEF\xBC\x9A ***PDU Generate Teleservice ID = 4098\n"), std::string::npos);
    EXPECT_NE(text.find("Debug\xEF\xBC\x9A ***Right , Only one Message Identifier\n"), std::string::npos);
    EXPECT_NE(text.find("***Entry ZoltSMSWDPDataDecode WDP Data: Segments 2 curSeg 0 DstPort 23f0 SrcPort b84"
                        "  numFields 11 msgLen 4  TPUD_HEAD 7 41 42 43 0 0 --TPUD_TAIL   43 42 41 7 0 0\n"),
              std::string::npos);
    EXPECT_NE(text.find("Debug\xEF\xBC\x9A ***content_type 7\n"), std::string::npos);
    // Encoder and text extraction keep the unit name they have always printed.
    EXPECT_TRUE(std::regex_search(text, std::regex("\\[zolt_sms_pdu\\.cpp [0-9]+\\] Debug\xEF\xBC\x9A \\*\\*\\*PDU Generate")))
        << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("\\[zolt_sms_pdu\\.cpp [0-9]+\\] Debug\xEF\xBC\x9A \\*\\*\\*content_type")))
        << text;
}

TEST(CdmaDecode, Ia5TextIsReadAsSeptets)
{
    CdmaShortMessage msg = decode(deliver(4098, param(1, user_data(3, 4, Bits().text7("ia5!")))));
    EXPECT_EQ(msg.encoding, 3);
    EXPECT_EQ(msg.tp_dcs, 4);
    EXPECT_STREQ(msg.tp_ud, "ia5!");
}
