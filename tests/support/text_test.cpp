#include <gtest/gtest.h>

#include <cstring>

#include "clock_text.h"
#include "text.h"

namespace {

TEST(TextUtilities, CheckIpv4AcceptsOnlyCanonicalDottedQuads)
{
    EXPECT_EQ(check_ipv4("0.0.0.0"), 0);
    EXPECT_EQ(check_ipv4("255.255.255.255"), 0);
    EXPECT_EQ(check_ipv4("192.168.1.1"), 0);
    for (const char* bad : {"256.1.1.1", "1.2.3", "01.2.3.4", "1.2.3.4 ", "1.2.3.4x", "-1.2.3.4", "+1.2.3.4", " 1.2.3.4", ""})
        EXPECT_EQ(check_ipv4(bad), -1) << bad;
}

TEST(TextUtilities, HexDigitValueTreatsZeroLikeNonDigits)
{
    EXPECT_EQ(hex_digit_value('0'), 0);
    EXPECT_EQ(hex_digit_value('g'), 0);
    EXPECT_EQ(hex_digit_value('9'), 9);
    EXPECT_EQ(hex_digit_value('A'), 10);
    EXPECT_EQ(hex_digit_value('f'), 15);
}

TEST(TextUtilities, TrimNewlineStopsAtFirstNewlineWithinSize)
{
    char a[] = "one\ntwo\n";
    trim_newline(a, sizeof a);
    EXPECT_STREQ(a, "one");
    char b[] = "abc\n";
    trim_newline(b, 2);
    EXPECT_STREQ(b, "abc\n");
    trim_newline(nullptr, 10);
}

TEST(TextUtilities, DateAndTimeTextsHaveFixedWidths)
{
    char date[11], clock[9], both[20];
    get_date_str(date);
    get_time_str(clock);
    get_datetime_str(both);
    EXPECT_EQ(strlen(date), 10u);
    EXPECT_EQ(strlen(clock), 8u);
    EXPECT_EQ(strlen(both), 19u);
    EXPECT_EQ(both[10], ' ');
}

} // namespace
