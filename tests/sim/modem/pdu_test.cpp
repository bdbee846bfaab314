#include <gtest/gtest.h>

#include "pdu.h"

namespace {

SmsTime at(const char* text)
{
    SmsTime t;
    EXPECT_TRUE(parse_sms_time(text, t)) << text;
    return t;
}

std::string gsm_deliver(const std::string& from, const std::string& text, bool ucs2 = false,
                        const std::string& smsc = "+8613800250500")
{
    DeliverRequest req;
    req.smsc = smsc;
    req.from = from;
    req.text = text;
    req.ucs2 = ucs2;
    req.time = at("12/03/14,15:26:37");
    std::string hex, err;
    EXPECT_TRUE(build_gsm_deliver(req, hex, err)) << err;
    return hex;
}

// Everything after SMSC, first octet, address, PID, DCS and time stamp.
std::string user_data_of(const std::string& hex, size_t address_chars)
{
    return hex.substr(18 + 2 + address_chars + 4 + 14);
}

TEST(GsmDeliver, BuildsTheWorkedExampleFieldByField)
{
    EXPECT_EQ(gsm_deliver("+12345678901", "hellohello"),
              "0891683108200505F0" // SMSC 8613800250500, F-padded
              "04"                 // SMS-DELIVER
              "0B912143658709F1"   // 11 digits, international
              "0000"               // PID, DCS GSM 7-bit
              "21304151627300"     // 12/03/14 15:26:37 zone 0
              "0A"
              "E8329BFD4697D9EC37");
}

TEST(GsmDeliver, ChoosesUcs2WhenTheTextIsNotGsm7OrWhenAsked)
{
    std::string forced = gsm_deliver("10086", "AB", true);
    EXPECT_EQ(forced.substr(18, 14), "0405810180F600");
    EXPECT_EQ(forced.substr(32, 2), "08");
    EXPECT_EQ(user_data_of(forced, 10), "0400410042");

    std::string chinese = gsm_deliver("10086", "你好");
    EXPECT_EQ(chinese.substr(32, 2), "08");
    EXPECT_EQ(user_data_of(chinese, 10), "044F60597D");

    // Beyond the BMP: one character, a surrogate pair of four octets.
    EXPECT_EQ(user_data_of(gsm_deliver("10086", "\xF0\x9F\x98\x80"), 10), "04D83DDE00");
}

TEST(GsmDeliver, UsesTheDefaultAlphabetAndItsExtensionTable)
{
    // '@' is septet 0 and '€' the escape 1B plus 65: three septets in all.
    Bytes ud;
    ASSERT_TRUE(from_hex(user_data_of(gsm_deliver("10086", "@€"), 10), ud));
    ASSERT_EQ(ud[0], 3);
    Bytes septets;
    ASSERT_TRUE(unpack_septets(ud.data() + 1, ud.size() - 1, 3, 0, septets));
    EXPECT_EQ(septets, (Bytes{0x00, 0x1B, 0x65}));
    // 160 GSM characters fit one message, 161 do not.
    DeliverRequest req;
    req.from = "1";
    req.text = std::string(160, 'a');
    std::string hex, err;
    EXPECT_TRUE(build_gsm_deliver(req, hex, err));
    EXPECT_EQ(hex.substr(hex.size() - 282, 2), "A0");
    req.text += "a";
    EXPECT_FALSE(build_gsm_deliver(req, hex, err));
}

TEST(GsmDeliver, WritesSendersZonesAndAnEmptySmsc)
{
    std::string alpha = gsm_deliver("Bank", "x", false, "");
    EXPECT_EQ(alpha.substr(0, 4), "0004");
    EXPECT_EQ(alpha.substr(4, 12), "07D0C2B07B0D"); // 4 septets = 7 semi-octets

    DeliverRequest req;
    req.from = "10086";
    req.time = at("99/12/31,23:59:58-12");
    std::string hex, err;
    ASSERT_TRUE(build_gsm_deliver(req, hex, err));
    EXPECT_EQ(hex.substr(hex.size() - 16, 14), "99211332958529"); // -3 hours: sign bit 0x08 in the zone
    SmsTime t;
    EXPECT_FALSE(parse_sms_time("12/13/01,00:00:00", t));
    EXPECT_FALSE(parse_sms_time("12/03/14 15:26:37", t));
}

TEST(Concatenated, PartsCarryTheHeaderInBothModes)
{
    DeliverRequest req;
    req.smsc = "";
    req.from = "10086";
    req.text = "Hi";
    req.time = at("12/03/14,15:26:37");
    ASSERT_TRUE(parse_concat("42/2/1", req));
    std::string hex, err;
    ASSERT_TRUE(build_gsm_deliver(req, hex, err)) << err;
    // Header flag in the first octet; 7 header septets + 2, text after one fill bit.
    EXPECT_EQ(hex, "00" "44" "05810180F6" "0000" "21304151627300" "09" "0500032A0201" "9069");
    req.ucs2 = true;
    ASSERT_TRUE(build_gsm_deliver(req, hex, err)) << err;
    EXPECT_EQ(hex.substr(hex.size() - 22), "0A0500032A020100480069");

    req.ucs2 = false;
    ASSERT_TRUE(build_cdma_deliver(req, hex, err)) << err;
    EXPECT_NE(hex.find("0003100018"), std::string::npos) << hex;                  // header indicator set
    EXPECT_NE(hex.find("010a104828001950100a4690"), std::string::npos) << hex;    // 9 fields: header, fill bit, "Hi"
    req.ucs2 = true;
    ASSERT_TRUE(build_cdma_deliver(req, hex, err)) << err;
    EXPECT_NE(hex.find("010c202828001950100802400348"), std::string::npos) << hex; // 5 units: 3 of header, "Hi"

    DeliverRequest bad;
    EXPECT_FALSE(parse_concat("1/2/3", bad));
    EXPECT_FALSE(parse_concat("1/2", bad));
    EXPECT_FALSE(parse_concat("256/2/1", bad));
}

TEST(GsmSubmit, ReadsTheWorkedExamples)
{
    SubmittedMessage m;
    std::string err;
    ASSERT_TRUE(parse_gsm_submit("0011000D91683108108300F00000AA05E8329BFD06", 20, m, err)) << err;
    EXPECT_EQ(m.number, "+8613800138000");
    EXPECT_EQ(m.text, "hello");
    ASSERT_TRUE(parse_gsm_submit("00110005810180F60000AA02C834", 13, m, err)) << err;
    EXPECT_EQ(m.number, "10086");
    EXPECT_EQ(m.text, "Hi");
    // The SMSC octets are not part of the announced length.
    ASSERT_TRUE(parse_gsm_submit("0891683108200505F011000D91683108108300F00000AA05E8329BFD06", 20, m, err)) << err;
    EXPECT_EQ(m.text, "hello");
}

TEST(GsmSubmit, RefusesWrongLengthsAndOtherMessageTypes)
{
    SubmittedMessage m;
    std::string err;
    EXPECT_FALSE(parse_gsm_submit("0011000D91683108108300F00000AA05E8329BFD06", 21, m, err));
    EXPECT_NE(err.find("announced 21"), std::string::npos);
    // One octet of user data missing for five septets.
    EXPECT_FALSE(parse_gsm_submit("0011000D91683108108300F00000AA05E8329BFD", 19, m, err));
    // An SMS-DELIVER is not something a host submits.
    EXPECT_FALSE(parse_gsm_submit("0004" "05810180F6" "0000" "21304151627300" "02C834", 17, m, err));
    EXPECT_FALSE(parse_gsm_submit("0011zz", 2, m, err));
}

TEST(GsmSubmit, ShowsSeptetsAsAHandsetWould)
{
    // ASCII '_' (0x5F) packed as a septet is the section sign on the phone.
    Bytes packed = pack_septets({0x5F, 0x0A, 0x40}, 0);
    std::string hex = "00110005810180F60000AA03" + to_hex(packed, true);
    SubmittedMessage m;
    std::string err;
    ASSERT_TRUE(parse_gsm_submit(hex, static_cast<long>(hex.size() / 2 - 1), m, err)) << err;
    EXPECT_EQ(m.text, "§\n¡");
}

TEST(GsmSubmit, SkipsAUserDataHeaderWithItsFillBits)
{
    // A six-octet header takes seven septets with one fill bit; "Hi" follows.
    Bytes text = pack_septets({'H', 'i'}, 1);
    std::string hex = "00510005810180F60000AA09" "0500032A0201" + to_hex(text, true);
    SubmittedMessage m;
    std::string err;
    ASSERT_TRUE(parse_gsm_submit(hex, static_cast<long>(hex.size() / 2 - 1), m, err)) << err;
    EXPECT_EQ(m.text, "Hi");

    std::string ucs2 = "00510005810180F60008AA0A" "050003010201" "00480069";
    ASSERT_TRUE(parse_gsm_submit(ucs2, static_cast<long>(ucs2.size() / 2 - 1), m, err)) << err;
    EXPECT_EQ(m.text, "Hi");
}

TEST(CdmaSubmit, ReadsTheWorkedExamples)
{
    SubmittedMessage m;
    std::string err;
    ASSERT_TRUE(parse_cdma_submit(
        "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101", 44, m, err))
        << err;
    EXPECT_EQ(m.number, "10086");
    EXPECT_EQ(m.text, "Hi");
    ASSERT_TRUE(parse_cdma_submit("0000021002040702c4e2a84e2aa8060100081e00032000000106102e8cbb366f030600000000"
                                  "00000501000801000d0101",
                                  49, m, err))
        << err;
    EXPECT_EQ(m.number, "13800138000");
    EXPECT_EQ(m.text, "hello");
    EXPECT_FALSE(parse_cdma_submit(
        "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101", 45, m, err));
    // The user data subparameter claims one octet more than its fields cover.
    EXPECT_FALSE(parse_cdma_submit(
        "000002100204040146aa18060100081d0003200000010510148d200003060000000000000501000801000d0101", 45, m, err));
}

TEST(CdmaDeliver, BuildsAMessageTheParserReadsBack)
{
    DeliverRequest req;
    req.from = "10086";
    req.text = "Hi";
    req.time = at("12/03/14,15:26:37");
    std::string hex, err;
    ASSERT_TRUE(build_cdma_deliver(req, hex, err)) << err;
    EXPECT_EQ(hex, "00"
                   "00021002"           // teleservice 4098
                   "020401" "46aa18"    // originating address, DTMF 1 0 0 8 6
                   "0813"               // bearer data
                   "0003100010"         // deliver, message id 1
                   "010410148d20"       // 7-bit ASCII "Hi"
                   "0306120314152637"); // BCD time stamp

    req.from = "+8613800138000";
    req.text = "你好";
    ASSERT_TRUE(build_cdma_deliver(req, hex, err)) << err;
    Bytes octets;
    ASSERT_TRUE(from_hex(hex, octets));
    CdmaMessage m;
    ASSERT_TRUE(parse_cdma_message(octets, m, err)) << err;
    EXPECT_EQ(m.msg_type, 0);
    EXPECT_EQ(m.teleservice, 4098);
    EXPECT_EQ(m.address_param, 2);
    EXPECT_EQ(m.address, "+8613800138000");
    EXPECT_EQ(m.bearer_type, 1);
    EXPECT_EQ(m.encoding, 4);
    EXPECT_EQ(m.text, "你好");
    EXPECT_EQ(m.timestamp, "120314152637");
}

TEST(TextCodec, RejectsMalformedInput)
{
    std::u32string out;
    EXPECT_FALSE(utf8_decode("\xC3", out));         // cut sequence
    EXPECT_FALSE(utf8_decode("\xC0\xAF", out));     // overlong
    EXPECT_FALSE(utf8_decode("\xED\xA0\x80", out)); // surrogate
    Bytes b;
    EXPECT_FALSE(from_hex("ABC", b));
    EXPECT_TRUE(from_hex("aBcD", b));
    EXPECT_EQ(b, (Bytes{0xAB, 0xCD}));
}

} // namespace
