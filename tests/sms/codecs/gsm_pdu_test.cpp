#include "gsm_pdu.h"

#include <cstring>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "log_capture.h"

namespace {

// SMSC 8613800250500, sender 12345678901 (international), PID 00, then the rest.
const std::string SMSC = "0891683108200505F0";
const std::string DELIVER_HEAD = "04" "0B912143658709F1";
const std::string SCTS = "21304151627300";

ShortMessage decode(const std::string& pdu)
{
    ShortMessage msg;
    memset(&msg, 0x5A, sizeof msg);  // the decoder must write every field itself
    gsm_decode_pdu(pdu.c_str(), &msg);
    return msg;
}

std::string encode(const char* tpa, const char* text, unsigned char dcs = 0, const char* sca = "")
{
    ShortMessage msg = {};
    snprintf(msg.sca, sizeof msg.sca, "%s", sca);
    snprintf(msg.tpa, sizeof msg.tpa, "%s", tpa);
    snprintf(msg.tp_ud, sizeof msg.tp_ud, "%s", text);
    msg.tp_dcs = dcs;
    char pdu[GSM_PDU_TEXT_MAX];
    int length = gsm_encode_pdu(&msg, pdu);
    EXPECT_EQ(length, static_cast<int>(strlen(pdu)));
    return pdu;
}

int cmgs_length(const std::string& pdu)
{
    return gsm_tpdu_length(pdu.c_str(), static_cast<int>(pdu.size()));
}

} // namespace

TEST(GsmDecode, ReadsAddressesTimeStampAndSevenBitText)
{
    ShortMessage msg = decode(SMSC + DELIVER_HEAD + "0000" + SCTS + "0A" "E8329BFD4697D9EC37");
    EXPECT_STREQ(msg.sca, "8613800250500");
    EXPECT_STREQ(msg.tpa, "12345678901");
    EXPECT_EQ(msg.tp_pid, 0);
    EXPECT_EQ(msg.tp_dcs, 0);
    EXPECT_STREQ(msg.scts, "12031415263700");
    EXPECT_STREQ(msg.tp_ud, "hellohello");
}

TEST(GsmDecode, DataCodingSchemesSelectUcs2OrOctets)
{
    EXPECT_STREQ(decode(SMSC + DELIVER_HEAD + "0008" + SCTS + "04" "00410042").tp_ud, "AB");
    EXPECT_STREQ(decode(SMSC + DELIVER_HEAD + "0004" + SCTS + "02" "4142").tp_ud, "AB");
    // Class 0 7-bit is not interpreted bit by bit: it is 8-bit data.
    ShortMessage cls0 = decode(SMSC + DELIVER_HEAD + "0010" + SCTS + "02" "4142");
    EXPECT_EQ(cls0.tp_dcs, 0x10);
    EXPECT_STREQ(cls0.tp_ud, "AB");
    // A character above U+00FF keeps its low-order octet.
    EXPECT_STREQ(decode(SMSC + DELIVER_HEAD + "0008" + SCTS + "02" "4E41").tp_ud, "A");
}

TEST(GsmDecode, EmptyAndAtSignTextsAreEmpty)
{
    EXPECT_STREQ(decode(SMSC + DELIVER_HEAD + "0000" + SCTS + "00").tp_ud, "");
    // First septet 0 (the GSM commercial-at) ends the text at once.
    EXPECT_STREQ(decode(SMSC + DELIVER_HEAD + "0000" + SCTS + "02" "80" "3A").tp_ud, "");
}

TEST(GsmDecode, UserDataHeaderIsPartOfTheText)
{
    // 8-bit data with UDHI set: 05 00 03 2A 02 01 then "Hi".
    ShortMessage msg = decode(SMSC + "44" "0B912143658709F1" "0004" + SCTS + "08" "0500032A02014869");
    EXPECT_EQ(memcmp(msg.tp_ud, "\x05", 1), 0);
    EXPECT_EQ(std::string(msg.tp_ud + 5), "\x01Hi");
}

TEST(GsmDecode, SevenSpareBitsDoNotAddACharacter)
{
    // Seven septets "1234567" padded with CR in the spare bits, as some centres send.
    ShortMessage msg = decode(SMSC + DELIVER_HEAD + "0000" + SCTS + "07" "31D98C56B3DD1A");
    EXPECT_STREQ(msg.tp_ud, "1234567");
}

TEST(GsmDecode, ZeroSmscLengthMeansNoServiceCentre)
{
    ShortMessage msg = decode("00" + DELIVER_HEAD + "0000" + SCTS + "02" "C834");
    EXPECT_STREQ(msg.sca, "");
    EXPECT_STREQ(msg.tpa, "12345678901");
    EXPECT_STREQ(msg.tp_ud, "Hi");
}

TEST(GsmDecode, OverlongFieldsAreCutAndTerminated)
{
    // SMSC of 20 octets and a 40-digit sender keep their first 15 characters.
    std::string smsc = "1591" + std::string(40, '1');
    std::string sender = "2891" + std::string(40, '2');
    ShortMessage msg = decode(smsc + "04" + sender + "0004" + SCTS + "FF" + std::string(510, '3'));
    EXPECT_STREQ(msg.sca, "111111111111111");
    EXPECT_STREQ(msg.tpa, "222222222222222");
    EXPECT_EQ(strlen(msg.tp_ud), 160u);
    EXPECT_EQ(msg.tp_ud[0], '3');
}

TEST(GsmDecode, TruncatedTextLeavesLaterFieldsEmpty)
{
    ShortMessage msg = decode(SMSC + "04" "0B9121");
    EXPECT_STREQ(msg.sca, "8613800250500");
    EXPECT_STREQ(msg.tpa, "12");
    EXPECT_STREQ(msg.scts, "");
    EXPECT_STREQ(msg.tp_ud, "");
    // A 7-bit length larger than the data decodes what is there.
    EXPECT_STREQ(decode(SMSC + DELIVER_HEAD + "0000" + SCTS + "A0" "C834").tp_ud, "Hi");
}

TEST(GsmHelpers, SemiOctetsSwapBothWays)
{
    char out[32];
    EXPECT_EQ(swap_semi_octets("8613800138000", out, 13), 14);
    EXPECT_STREQ(out, "683108108300F0");
    EXPECT_EQ(unswap_semi_octets("683108108300F0", out, 14), 13);
    EXPECT_STREQ(out, "8613800138000");
    EXPECT_EQ(swap_semi_octets("1234", out, 4), 4);
    EXPECT_STREQ(out, "2143");
}

TEST(GsmHelpers, HexIsUpperCaseBothWays)
{
    uint8_t octets[4];
    EXPECT_EQ(hex_to_octets("0AfF9", octets, 5), 2);
    EXPECT_EQ(octets[0], 0x0A);
    char text[16];
    const uint8_t data[] = {0x00, 0xAB, 0x7F};
    EXPECT_EQ(octets_to_hex(data, 3, text), 6);
    EXPECT_STREQ(text, "00AB7F");
}

TEST(GsmHelpers, Utf8BecomesBigEndianUnits)
{
    uint8_t out[16];
    // "A", e-acute, euro sign.
    EXPECT_EQ(utf8_to_ucs2("A\xC3\xA9\xE2\x82\xAC", 6, out), 6);
    const uint8_t expected[] = {0x00, 0x41, 0x00, 0xE9, 0x20, 0xAC};
    EXPECT_EQ(memcmp(out, expected, 6), 0);
    // A sequence cut by the end of the input is dropped, not read past.
    EXPECT_EQ(utf8_to_ucs2("A\xE2\x82", 3, out), 2);
}

TEST(GsmEncode, SubmitPdusMatchTheModemExamples)
{
    std::string international = encode("+8613800138000", "hello");
    EXPECT_EQ(international, "0011000D91683108108300F00000AA05E8329BFD06");
    EXPECT_EQ(cmgs_length(international), 20);
    std::string national = encode("10086", "Hi");
    EXPECT_EQ(national, "00110005810180F60000AA02C834");
    EXPECT_EQ(cmgs_length(national), 13);
}

TEST(GsmEncode, ServiceCentreIsNotCountedInTheTpduLength)
{
    std::string pdu = encode("10086", "Hi", 0, "8613800250500");
    EXPECT_EQ(pdu.substr(0, 18), "0891683108200505F0");
    EXPECT_EQ(cmgs_length(pdu), 13);
}

TEST(GsmEncode, PackingLengths)
{
    EXPECT_EQ(encode("10086", "").substr(22), "00");
    std::string eight = encode("10086", "abcdefgh");
    EXPECT_EQ(eight.substr(22, 2), "08");
    EXPECT_EQ(eight.size() - 24, 14u);
    std::string full = encode("10086", std::string(160, 'x').c_str());
    EXPECT_EQ(full.substr(22, 2), "A0");
    EXPECT_EQ(full.size() - 24, 280u);
}

TEST(GsmEncode, UnicodeAndOctetData)
{
    EXPECT_EQ(encode("10086", "A\xC3\xA9", 8).substr(16), "0008AA04004100E9");
    EXPECT_EQ(encode("10086", "AB", 4).substr(16), "0004AA024142");
    // 100 two-byte characters make 200 octets of UCS2: cut to the 140 one PDU holds.
    std::string many;
    for (int i = 0; i < 80; i++)
        many += "\xC3\xA9";
    std::string pdu = encode("10086", many.c_str(), 8);
    EXPECT_EQ(pdu.substr(22, 2), "8C");
    EXPECT_EQ(pdu.size() - 24, 280u);
}

TEST(GsmEncode, OverlongDestinationIsCutToFifteenDigits)
{
    ShortMessage msg = {};
    memcpy(msg.tpa, "+123456789012345", 16);  // fills the field, no terminator
    msg.tp_ud[0] = 'A';
    char pdu[GSM_PDU_TEXT_MAX];
    gsm_encode_pdu(&msg, pdu);
    EXPECT_EQ(std::string(pdu).substr(0, 26), "0011000F9121436587092143F5");
}

TEST(GsmCodec, SevenBitTextSurvivesARoundTrip)
{
    const char* text = "The quick brown fox jumps over the lazy dog 0123456789 !?#%&()*+,-./:;<=>";
    std::string submit = encode("10086", text);
    // Re-frame the packed user data as an SMS-DELIVER.
    std::string deliver = "00" "04" "0581" "0180F6" "0000" + SCTS + submit.substr(22);
    ShortMessage msg = decode(deliver);
    EXPECT_STREQ(msg.tp_ud, text);
    EXPECT_STREQ(msg.tpa, "10086");
}

TEST(GsmLog, UnicodeEncodingLogsTheConvertedOctets)
{
    LogCapture log;
    encode("10086", "AB", 8);
    EXPECT_NE(log.text().find("Debug\xEF\xBC\x9A pDst>>,4\n"), std::string::npos) << log.text();
    // The SUBMIT encoder's lines keep the unit name they have always printed.
    EXPECT_TRUE(std::regex_search(log.text(), std::regex("\\[gsm_sms\\.cpp [0-9]+\\] Debug\xEF\xBC\x9A pDst>>")))
        << log.text();
}

TEST(GsmDecode, SevenBitTextLongerThanTheRecordIsCut)
{
    // TP-UDL 255 septets of "U" (0x55): 224 packed octets.
    std::string ud;
    for (int i = 0; i < 32; i++)
        ud += "D56AB55AAD56AB";
    ShortMessage msg = decode(SMSC + DELIVER_HEAD + "0000" + SCTS + "FF" + ud);
    EXPECT_EQ(strlen(msg.tp_ud), 160u);
    EXPECT_EQ(msg.tp_ud[159], 'U');
}

TEST(GsmEncode, BytesOutsideSevenBitsAreSentAsQuestionMarks)
{
    EXPECT_EQ(encode("10086", "\xC3\xA9"), encode("10086", "??"));
}
