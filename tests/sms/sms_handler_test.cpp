#include "sms_handler.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

SmsConfig configured()
{
    SmsConfig c{};
    for (int slot = 0; slot < COMMAND_SLOTS; ++slot)
        snprintf(c.keywords[slot], KEYWORD_SIZE, "%s", command_option_names[slot]);
    return c;
}

int match(const char* text, const SmsConfig& c)
{
    InboxMessage msg{};
    snprintf(msg.text, sizeof msg.text, "%s", text);
    return match_command(&msg, &c);
}

} // namespace

TEST(MatchCommand, WholeTextMustEqualTheKeyword)
{
    SmsConfig c = configured();
    EXPECT_EQ(CMD_REBOOT, match("reboot", c));
    EXPECT_EQ(CMD_DIOSTATUS, match("diostatus", c));
    EXPECT_EQ(CMD_SIMSWITCH, match("simswitch", c));
    EXPECT_EQ(-1, match("Reboot", c));
    EXPECT_EQ(-1, match("reboot ", c));
    EXPECT_EQ(-1, match("reboot\n", c));
    EXPECT_EQ(-1, match("rebo", c));
}

TEST(MatchCommand, OperatorSelectionMatchesByPrefixFirst)
{
    SmsConfig c = configured();
    EXPECT_EQ(CMD_OPERSET, match("operset 46001", c));
    EXPECT_EQ(CMD_OPERSET, match("operset", c));
    // The prefix test comes before every whole-text comparison.
    snprintf(c.keywords[CMD_OPERSET], KEYWORD_SIZE, "re");
    EXPECT_EQ(CMD_OPERSET, match("reboot", c));
}

TEST(MatchCommand, FirstSlotWinsForEqualKeywords)
{
    SmsConfig c = configured();
    snprintf(c.keywords[CMD_WIFION], KEYWORD_SIZE, "cellup");
    EXPECT_EQ(CMD_CELLUP, match("cellup", c));
}

TEST(MatchCommand, EmptyKeywordMatchesNothingNotEvenAnEmptyText)
{
    SmsConfig c{};
    EXPECT_EQ(-1, match("", c));
    EXPECT_EQ(-1, match("reboot", c));
    c = configured();
    c.keywords[CMD_REBOOT][0] = '\0';
    EXPECT_EQ(-1, match("", c));
    EXPECT_EQ(CMD_CELLSTATUS, match("cellstatus", c));
}

TEST(OperatorArgument, AcceptsOperatorCodesAndRefusesShellCharacters)
{
    EXPECT_TRUE(operator_argument_safe(" 46001"));
    EXPECT_TRUE(operator_argument_safe("CHNCT"));
    EXPECT_TRUE(operator_argument_safe(""));
    EXPECT_FALSE(operator_argument_safe(" 46001; reboot"));
    EXPECT_FALSE(operator_argument_safe("$(reboot)"));
    EXPECT_FALSE(operator_argument_safe("`id`"));
    EXPECT_FALSE(operator_argument_safe("1|2"));
    EXPECT_FALSE(operator_argument_safe("1\n2"));
}

TEST(ReplyNumber, AddsPlusWhenAskedAndRefusesWhatDoesNotFit)
{
    char out[REPLY_NUMBER_SIZE];
    ASSERT_TRUE(build_reply_number(out, "8613912345678", 1));
    EXPECT_STREQ("+8613912345678", out);
    ASSERT_TRUE(build_reply_number(out, "8613912345678", 0));
    EXPECT_STREQ("8613912345678", out);
    std::string thirty(30, '1');
    EXPECT_TRUE(build_reply_number(out, thirty.c_str(), 0));
    EXPECT_FALSE(build_reply_number(out, thirty.c_str(), 1));
}
