#include "sms_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "brenlow_state.h"
#include "sandbox.h"

namespace {

std::string field(const char* text, const FieldSpan& span)
{
    return std::string(text + span.start, span.length);
}

// The daemon keeps its list for life; a test hands it back.
void free_list()
{
    while (PhoneEntry* e = brenlow.config.phones) {
        brenlow.config.phones = e->next;
        free(e);
    }
}

} // namespace

TEST(SplitFields, SkipsLeadingAndRepeatedSeparators)
{
    FieldSpan spans[4];
    const char* text = ",,1,,0,123\n";
    ASSERT_EQ(3, split_fields(text, spans, 4, ','));
    EXPECT_EQ("1", field(text, spans[0]));
    EXPECT_EQ("0", field(text, spans[1]));
    EXPECT_EQ("123\n", field(text, spans[2]));
}

TEST(SplitFields, StopsAtMaxAndLeavesTheRestUnread)
{
    FieldSpan spans[2];
    const char* text = "a,b,c,d";
    ASSERT_EQ(2, split_fields(text, spans, 2, ','));
    EXPECT_EQ("a", field(text, spans[0]));
    EXPECT_EQ("b", field(text, spans[1]));
}

TEST(SplitFields, CountsBelowTwoAsZeroAndDropsAnEmptyLastField)
{
    FieldSpan spans[4];
    EXPECT_EQ(0, split_fields("", spans, 4, ','));
    EXPECT_EQ(0, split_fields("only", spans, 4, ','));
    EXPECT_EQ(0, split_fields(",,,", spans, 4, ','));
    const char* text = "1,2,";
    ASSERT_EQ(2, split_fields(text, spans, 4, ','));
    EXPECT_EQ(0, spans[2].start);
    EXPECT_EQ(0, spans[2].length);
}

TEST(PhoneLine, ReadsFlagsAndNumberWithoutLineEnd)
{
    PhoneEntry e;
    ASSERT_EQ(1, parse_phone_line("1,0,+8613912345678\r\n", &e));
    EXPECT_EQ(1, e.command);
    EXPECT_EQ(0, e.alarm);
    EXPECT_STREQ("+8613912345678", e.number);
    ASSERT_EQ(1, parse_phone_line(" 1,abc,123,extra\n", &e));
    EXPECT_EQ(1, e.command);
    EXPECT_EQ(0, e.alarm);
    EXPECT_STREQ("123", e.number);
}

TEST(PhoneLine, CutsLongNumbersAndKeepsBlanks)
{
    PhoneEntry e;
    ASSERT_EQ(1, parse_phone_line("1,1,12345678901234567890\n", &e));
    EXPECT_STREQ("1234567890123456", e.number);
    ASSERT_EQ(1, parse_phone_line("1,1, 555\n", &e));
    EXPECT_STREQ(" 555", e.number);
}

TEST(PhoneLine, SkipsShortLinesAndRefusesOneCharacterNumbers)
{
    PhoneEntry e;
    EXPECT_EQ(0, parse_phone_line("1,,555\n", &e));
    EXPECT_EQ(0, parse_phone_line("garbage\n", &e));
    EXPECT_EQ(-1, parse_phone_line("1,1,x\n", &e));
}

TEST(PhoneList, LoadsInFileOrderAndFindsExactNumbers)
{
    Sandbox box;
    setenv("ROUTER_ROOT", box.root().c_str(), 1);
    box.write("/var/run/phonenum", "1,0,13912345678\n0,1,+8613912345678\n1,1,x\n1,1,13912345678\n");
    brenlow.config = SmsConfig{};
    load_phone_list();
    unsetenv("ROUTER_ROOT");

    int count = 0;
    for (PhoneEntry* e = brenlow.config.phones; e; e = e->next)
        ++count;
    EXPECT_EQ(3, count);
    ASSERT_NE(nullptr, brenlow.config.phones);
    EXPECT_STREQ("13912345678", brenlow.config.phones->number);
    ASSERT_NE(nullptr, find_phone("13912345678"));
    EXPECT_EQ(1, find_phone("13912345678")->command); // first entry wins
    EXPECT_EQ(0, find_phone("13912345678")->alarm);
    EXPECT_EQ(nullptr, find_phone("8613912345678"));
    EXPECT_EQ(nullptr, find_phone("x"));
    free_list();
}

TEST(PhoneList, MissingFileGivesAnEmptyList)
{
    Sandbox box;
    setenv("ROUTER_ROOT", box.root().c_str(), 1);
    brenlow.config = SmsConfig{};
    load_phone_list();
    unsetenv("ROUTER_ROOT");
    EXPECT_EQ(nullptr, brenlow.config.phones);
}
