// GSM text codec against worked examples and against the modem simulator's
// own PDU code (an independent reading of the formats) over seeded random texts.
#include "gsm_text.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gsm_alphabet.h"
#include "pdu.h"

namespace {

// SMSC 8613800250500, sender 12345678901, PID 00.
const std::string SMSC = "0891683108200505F0";
const std::string SENDER = "0B912143658709F1";
const std::string SCTS = "21304151627300";

struct Decoded {
    std::string text;
    ConcatHeader concat;
    ShortMessage msg;
};

Decoded decode(const std::string& pdu)
{
    Decoded d;
    char text[GSM_TEXT_UTF8_SIZE];
    gsm_decode_text(pdu.c_str(), &d.msg, text, sizeof text, &d.concat);
    d.text = text;
    return d;
}

// A DELIVER of the simulator's making.
std::string sim_deliver(const std::string& text, bool ucs2 = false)
{
    DeliverRequest req;
    req.from = "+12345678901";
    req.text = text;
    req.ucs2 = ucs2;
    std::string hex, err;
    EXPECT_TRUE(build_gsm_deliver(req, hex, err)) << err;
    return hex;
}

std::vector<SubmittedMessage> sim_parse(const GsmSubmitParts& parts)
{
    std::vector<SubmittedMessage> out;
    for (int p = 0; p < parts.count; p++) {
        SubmittedMessage m;
        std::string err;
        EXPECT_TRUE(parse_gsm_submit(parts.pdu[p], parts.tpdu_length[p], m, err)) << err << " in " << parts.pdu[p];
        out.push_back(m);
    }
    return out;
}

size_t code_points(const std::string& text)
{
    std::u32string chars;
    EXPECT_TRUE(utf8_decode(text, chars));
    return chars.size();
}

TEST(GsmTextDecode, DefaultAlphabetAndExtensionTableReadAsUtf8)
{
    EXPECT_EQ(decode(sim_deliver("@$_£é¥ΔΩ ¡¿ÄÖÑÜ§äöñüà")).text, "@$_£é¥ΔΩ ¡¿ÄÖÑÜ§äöñüà");
    EXPECT_EQ(decode(sim_deliver("^{}\\[~]|€")).text, "^{}\\[~]|€");
    // "@" first no longer ends the text.
    EXPECT_EQ(decode(sim_deliver("@home")).text, "@home");
    // Septets 1B 41 (no extension character): a space, then nothing lost.
    std::string pdu = SMSC + "04" + SENDER + "0000" + SCTS + "03" + "9B6018";
    EXPECT_EQ(decode(pdu).text, " a");
}

TEST(GsmTextDecode, Ucs2KeepsTheWholePlaneAndPairsOfSurrogates)
{
    std::string chinese;
    for (int i = 0; i < 70; i++)
        chinese += "开";
    Decoded d = decode(sim_deliver(chinese));
    EXPECT_EQ(d.text, chinese); // U+5F00: a zero low octet ends nothing
    EXPECT_EQ(decode(sim_deliver("a😀b", true)).text, "a😀b");
    // A lone high surrogate reads as U+FFFD; a zero unit is left out.
    std::string pdu = SMSC + "04" + SENDER + "0008" + SCTS + "06" + "D83D" "0000" "0041";
    EXPECT_EQ(decode(pdu).text, "\xEF\xBF\xBD" "A");
}

TEST(GsmTextDecode, ConcatenationHeaderIsReadAndTakenOutOfTheText)
{
    DeliverRequest req;
    req.from = "+12345678901";
    req.text = "part two";
    req.concat_ref = 0x1234;
    req.concat_total = 3;
    req.concat_seq = 2;
    req.concat_ref16 = true;
    for (bool ucs2 : {false, true}) {
        req.ucs2 = ucs2;
        std::string hex, err;
        ASSERT_TRUE(build_gsm_deliver(req, hex, err)) << err;
        Decoded d = decode(hex);
        EXPECT_EQ(d.text, "part two");
        EXPECT_EQ(d.concat.ref, 0x1234);
        EXPECT_EQ(d.concat.total, 3);
        EXPECT_EQ(d.concat.part, 2);
    }
    req.concat_ref16 = false;
    req.concat_ref = 42;
    req.ucs2 = false;
    std::string hex, err;
    ASSERT_TRUE(build_gsm_deliver(req, hex, err)) << err;
    Decoded d = decode(hex);
    EXPECT_EQ(d.text, "part two");
    EXPECT_EQ(d.concat.ref, 42);
    // A header whose length runs past the user data is no header.
    std::string bad = SMSC + "44" + SENDER + "0004" + SCTS + "03" + "094142";
    d = decode(bad);
    EXPECT_EQ(d.concat.total, 0);
    EXPECT_EQ(d.text, "\tAB");
}

TEST(GsmTextDecode, CodingGroupsChooseTheAlphabet)
{
    EXPECT_EQ(gsm_dcs_alphabet(0x00), GsmAlphabet::Septets);
    EXPECT_EQ(gsm_dcs_alphabet(0x10), GsmAlphabet::Septets); // class 0
    EXPECT_EQ(gsm_dcs_alphabet(0x04), GsmAlphabet::Octets);
    EXPECT_EQ(gsm_dcs_alphabet(0x08), GsmAlphabet::Ucs2);
    EXPECT_EQ(gsm_dcs_alphabet(0x18), GsmAlphabet::Ucs2);
    EXPECT_EQ(gsm_dcs_alphabet(0x28), GsmAlphabet::Octets); // compressed
    EXPECT_EQ(gsm_dcs_alphabet(0xF0), GsmAlphabet::Septets);
    EXPECT_EQ(gsm_dcs_alphabet(0xF4), GsmAlphabet::Octets);
    EXPECT_EQ(gsm_dcs_alphabet(0xE0), GsmAlphabet::Ucs2);
}

TEST(GsmTextEncode, AlphabetChoiceAndPartLengths)
{
    GsmSubmitParts parts;
    // "@" goes as septet 0, not as the byte 0x40 ("¡").
    ASSERT_EQ(gsm_encode_text("+8613800138000", "a@b", 1, &parts), 1);
    EXPECT_EQ(sim_parse(parts)[0].text, "a@b");
    EXPECT_NE(std::string(parts.pdu[0]).find("0000AA03"), std::string::npos);

    // 159 letters and one escape character: 161 septets, so two parts.
    std::string text(159, 'x');
    ASSERT_EQ(gsm_encode_text("10086", (text + "€").c_str(), 7, &parts), 2);
    std::vector<SubmittedMessage> got = sim_parse(parts);
    EXPECT_EQ(got[0].text.size(), 153u);
    EXPECT_EQ(got[1].text, std::string(6, 'x') + "€");
    EXPECT_EQ(got[1].concat_ref, 7);
    EXPECT_EQ(got[1].concat_total, 2);
    EXPECT_EQ(got[1].concat_seq, 2);

    // The escape pair is never split: 152 letters and "€" leave it for part 2.
    ASSERT_EQ(gsm_encode_text("10086", (std::string(152, 'y') + "€" + std::string(10, 'y')).c_str(), 8, &parts), 2);
    got = sim_parse(parts);
    EXPECT_EQ(got[0].text, std::string(152, 'y'));
    EXPECT_EQ(got[1].text, "€" + std::string(10, 'y'));

    // 70 CJK characters fit one UCS2 message, 71 take two parts of 67 and 4.
    std::string cjk;
    for (int i = 0; i < 70; i++)
        cjk += "中";
    EXPECT_EQ(gsm_encode_text("10086", cjk.c_str(), 9, &parts), 1);
    EXPECT_EQ(gsm_encode_text("10086", (cjk + "文").c_str(), 9, &parts), 2);
    got = sim_parse(parts);
    EXPECT_EQ(code_points(got[0].text), 67u);
    EXPECT_EQ(code_points(got[1].text), 4u);
    // A backtick has no GSM form: the whole text goes as UCS2.
    EXPECT_EQ(gsm_encode_text("10086", "`ok`", 1, &parts), 1);
    EXPECT_NE(std::string(parts.pdu[0]).find("0008AA08"), std::string::npos);
}

TEST(GsmTextEncode, SixPartsAtMostAndTheRestCounted)
{
    GsmSubmitParts parts;
    std::string text(1000, 'z');
    ASSERT_EQ(gsm_encode_text("10086", text.c_str(), 3, &parts), GSM_SEND_PARTS_MAX);
    EXPECT_EQ(parts.dropped, 1000 - 6 * 153);
    EXPECT_EQ(gsm_encode_text("10086", std::string(918, 'z').c_str(), 3, &parts), 6);
    EXPECT_EQ(parts.dropped, 0);
    // A text cut inside a character by an earlier limit loses only that character.
    EXPECT_EQ(gsm_encode_text("10086", "ab\xE4\xB8", 3, &parts), 1);
    EXPECT_EQ(sim_parse(parts)[0].text, "ab");
}

// Texts from four sets of characters, mixed or alone, 0 to 1000 characters.
std::string random_text(std::mt19937& rng)
{
    static const std::vector<std::string> ASCII_SET = {"a", "Z", "0", " ", ".", "?", "!", "/", "+", "-"};
    static const std::vector<std::string> GSM_SET = {"@", "£", "$", "¥", "é", "Δ", "_", "€", "{", "}", "[", "]",
                                                     "~", "\\", "|", "^", "ß", "Ñ", "\n"};
    static const std::vector<std::string> CJK_SET = {"开", "中", "文", "字", "の", "한", "Ж", "ع"};
    static const std::vector<std::string> EMOJI_SET = {"😀", "👍", "🚀", "𝄞"};
    const std::vector<const std::vector<std::string>*> sets = {&ASCII_SET, &GSM_SET, &CJK_SET, &EMOJI_SET};
    int length = std::uniform_int_distribution<int>(0, 1000)(rng);
    int mix = std::uniform_int_distribution<int>(0, 15)(rng); // which sets take part
    if (mix == 0)
        mix = 1;
    std::string text;
    for (int i = 0; i < length; i++) {
        const std::vector<std::string>* set;
        do
            set = sets[std::uniform_int_distribution<int>(0, 3)(rng)];
        while (!(mix & (1 << (std::find(sets.begin(), sets.end(), set) - sets.begin()))));
        text += (*set)[std::uniform_int_distribution<size_t>(0, set->size() - 1)(rng)];
    }
    return text;
}

std::string first_chars(const std::string& text, size_t n)
{
    std::u32string chars;
    utf8_decode(text, chars);
    chars.resize(std::min(n, chars.size()));
    return utf8_encode(chars);
}

TEST(GsmTextRoundTrip, SeededRandomTextsBothWaysAgainstTheSimulator)
{
    std::mt19937 rng(20261208);
    for (int round = 0; round < 1000; round++) {
        std::string text = random_text(rng);
        SCOPED_TRACE("round " + std::to_string(round) + ": " + text);
        if (text.size() >= static_cast<size_t>(GSM_SEND_TEXT_MAX))
            text = first_chars(text, 500);

        // Daemon to phone: every part accepted with its announced length, joined in order.
        GsmSubmitParts parts;
        int count = gsm_encode_text("+4915112345678", text.c_str(), static_cast<uint8_t>(round), &parts);
        std::vector<SubmittedMessage> got = sim_parse(parts);
        std::string joined;
        for (int p = 0; p < count; p++) {
            joined += got[p].text;
            if (count > 1) {
                EXPECT_EQ(got[p].concat_total, count);
                EXPECT_EQ(got[p].concat_seq, p + 1);
                EXPECT_EQ(got[p].concat_ref, round % 256);
            }
        }
        size_t all = code_points(text);
        EXPECT_EQ(joined, first_chars(text, all - parts.dropped));

        // Phone to daemon: the simulator splits, the daemon decodes each part.
        DeliverRequest req;
        req.from = "+12345678901";
        req.text = text;
        req.concat_ref = round;
        req.concat_ref16 = round % 2;
        std::vector<std::string> hexes;
        std::string err;
        ASSERT_TRUE(build_gsm_deliver_parts(req, hexes, err)) << err;
        std::string received;
        for (size_t p = 0; p < hexes.size(); p++) {
            Decoded d = decode(hexes[p]);
            received += d.text;
            EXPECT_EQ(d.concat.total, hexes.size() > 1 ? static_cast<int>(hexes.size()) : 0);
            if (hexes.size() > 1) {
                EXPECT_EQ(d.concat.part, static_cast<int>(p + 1));
            }
        }
        EXPECT_EQ(received, text);
    }
}

TEST(Utf8Cut, EndsOnACharacterBoundary)
{
    EXPECT_EQ(utf8_cut("ab开", 4), 2);
    EXPECT_EQ(utf8_cut("ab开", 5), 5);
    EXPECT_EQ(utf8_cut("ab开c", 5), 5);
    EXPECT_EQ(utf8_cut("😀", 3), 0);
    EXPECT_EQ(utf8_cut("short", 160), 5);
}

} // namespace
