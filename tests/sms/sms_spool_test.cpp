#include "sms_spool.h"

#include <gtest/gtest.h>

#include "brenlow_state.h"
#include "gsm_pdu.h"

TEST(SpoolLine, SplitsAtTheFirstCommaAndKeepsTheNewline)
{
    SpoolLine line;
    ASSERT_EQ(SpoolParse::Ok, parse_spool_line("13912345678,hi\n", &line));
    EXPECT_STREQ("13912345678", line.number);
    EXPECT_STREQ("hi\n", line.text);
    EXPECT_EQ(11, line.comma);
    ASSERT_EQ(SpoolParse::Ok, parse_spool_line("123,a,b,,c\n", &line));
    EXPECT_STREQ("a,b,,c\n", line.text);
}

TEST(SpoolLine, RefusesMissingCommaEmptyAndOverlongNumbers)
{
    SpoolLine line;
    EXPECT_EQ(SpoolParse::NoComma, parse_spool_line("13912345678 hello\n", &line));
    EXPECT_EQ(SpoolParse::BadNumber, parse_spool_line(",hello\n", &line));
    EXPECT_EQ(SpoolParse::Ok, parse_spool_line("1234567890123456,x", &line));
    EXPECT_EQ(SpoolParse::BadNumber, parse_spool_line("12345678901234567,x", &line));
}

TEST(SpoolLine, SendsOnlyTheFirst160Bytes)
{
    SpoolLine line;
    std::string text(300, 'y');
    ASSERT_EQ(SpoolParse::Ok, parse_spool_line(("1," + text).c_str(), &line));
    EXPECT_EQ(std::string(160, 'y'), line.text);
}

TEST(FormatScts, ShowsTheFirstSixPairsWithSeparators)
{
    EXPECT_STREQ("26-12-08 10:20:30", format_scts("26120810203032"));
    EXPECT_STREQ("26-12-08 00:00:00", format_scts("261208"));
}

TEST(ReadCommand, NamesIndexAndQuotesDeviceAndScript)
{
    set_device_path("/dev/ttyUSB2");
    char cmd[512];
    ASSERT_EQ(0, build_read_command(cmd, sizeof cmd, 3, "/etc/gcom/read_sms.gcom"));
    EXPECT_STREQ("SMS_INDEX=3 gcom -d '/dev/ttyUSB2' -s '/etc/gcom/read_sms.gcom'", cmd);
    EXPECT_EQ(-1, build_read_command(cmd, 20, 3, "/etc/gcom/read_sms.gcom"));
    set_device_path("/dev/m';touch x;'");
    ASSERT_EQ(0, build_read_command(cmd, sizeof cmd, 1, "/etc/gcom/read_sms.gcom"));
    EXPECT_STREQ("SMS_INDEX=1 gcom -d '/dev/m'\\'';touch x;'\\''' -s '/etc/gcom/read_sms.gcom'", cmd);
}

TEST(TpduLength, SubtractsTheSmscInformation)
{
    std::string bare = "00" + std::string(44, '1');
    EXPECT_EQ(22, gsm_tpdu_length(bare.c_str(), 46));
    std::string with_smsc = "07" + std::string(60, '1');
    EXPECT_EQ(23, gsm_tpdu_length(with_smsc.c_str(), 62));
}
