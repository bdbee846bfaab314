#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "brenlow_state.h"
#include "gsm_pdu.h"
#include "journal.h"
#include "line_reader.h"
#include "shown_text.h"
#include "sms_inbox.h"
#include "sms_manager.h"
#include "spool_line.h"
#include "stored_pdu.h"

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

TEST(ShownText, EscapesControlCharactersAndNeverCutsAnEscape)
{
    char out[64];
    escape_controls(out, sizeof out, "a\nb\rc\td\x01\x7F" "e");
    EXPECT_STREQ("a\\nb\\rc\\td\\x01\\x7Fe", out);
    char tiny[6];
    EXPECT_EQ(4u, escape_controls(tiny, sizeof tiny, "abcd\x02"));
    EXPECT_STREQ("abcd", tiny);
}

TEST(NumberCheck, LetsOnlyWhatTheModesEncoderTakes)
{
    brenlow.sms_mode = SmsMode::Gsm;
    EXPECT_EQ(-1, bad_number_byte("+8613912345678"));
    EXPECT_EQ(-1, bad_number_byte("10086"));
    EXPECT_EQ(0, bad_number_byte(""));
    EXPECT_EQ(0, bad_number_byte("+"));
    EXPECT_EQ(3, bad_number_byte("123\r\x1a" "AT+CMGD=3\r"));
    EXPECT_EQ(1, bad_number_byte("1+2"));
    EXPECT_EQ(0, bad_number_byte("*123#"));
    brenlow.sms_mode = SmsMode::Cdma;
    EXPECT_EQ(-1, bad_number_byte("*123#0"));
    EXPECT_EQ(0, bad_number_byte("+8613912345678"));
    EXPECT_EQ(2, bad_number_byte("12a"));
    brenlow.sms_mode = SmsMode::Unset;
}

TEST(LineReader, KeepsAnOverlongLineAsOneLine)
{
    std::string text = "1," + std::string(600, 'x') + ",2,tail\nnext,line\nlast";
    FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ASSERT_NE(nullptr, f);
    char buf[SPOOL_LINE_SIZE];
    bool cut = false;
    ASSERT_TRUE(read_whole_line(f, buf, sizeof buf, &cut));
    EXPECT_TRUE(cut);
    EXPECT_EQ(511u, strlen(buf));
    ASSERT_TRUE(read_whole_line(f, buf, sizeof buf, &cut));
    EXPECT_FALSE(cut);
    EXPECT_STREQ("next,line\n", buf);
    ASSERT_TRUE(read_whole_line(f, buf, sizeof buf, &cut));
    EXPECT_STREQ("last", buf);
    EXPECT_FALSE(read_whole_line(f, buf, sizeof buf, &cut));
    fclose(f);
}

// The journal under a private root: one event, one line, whatever the fields hold.
TEST(Journal, ForgedLinesInFieldsStayInsideTheirLine)
{
    char templ[] = "/tmp/journaltest.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(templ));
    std::string root = templ;
    ASSERT_EQ(0, system(("mkdir -p " + root + "/etc/config").c_str()));
    setenv("ROUTER_ROOT", root.c_str(), 1);
    InboxMessage msg = {};
    snprintf(msg.sender, sizeof msg.sender, "1\nSent SMS: receiver: 2");
    snprintf(msg.text, sizeof msg.text, "hi\r\n");
    record_received(&msg);
    record_sent("13912345678", std::string(600, 'z').c_str());
    record_sent("13912345678", "ok\n");
    unsetenv("ROUTER_ROOT");
    std::ifstream in(root + "/etc/config/sms_record");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(0u, lines[0].find("Received SMS: sender: 1\\nSent SMS: receiver: 2; time: "));
    EXPECT_NE(std::string::npos, lines[0].find("; msg: hi\\r\\n"));
    EXPECT_EQ(510u, lines[1].size());
    EXPECT_NE(std::string::npos, lines[2].find("; msg: ok\\n."));
    EXPECT_EQ(0, system(("rm -rf " + root).c_str()));
}
