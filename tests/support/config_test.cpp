#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "config.h"

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A scratch router root whose PATH leads to a scripted `uci` that records its arguments.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/configtest.XXXXXX";
        root_ = mkdtemp(templ);
        saved_path_ = getenv("PATH");
        mkdir((root_ + "/bin").c_str(), 0755);
        script("/bin/uci",
               "printf '%s\\n' \"$*\" >> \"$ROUTER_ROOT/uci.args\"\n"
               "case \"$2\" in\n"
               "  sms.general.debug) echo 5 ;;\n"
               "  long.value.key) printf '%0100d\\n' 7 ;;\n"
               "  text.with.blank) echo 'hello world' ;;\n"
               "  *) exit 1 ;;\n"
               "esac\n");
        setenv("ROUTER_ROOT", root_.c_str(), 1);
        setenv("PATH", (root_ + "/bin:" + saved_path_).c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", saved_path_.c_str(), 1);
        unsetenv("ROUTER_ROOT");
        system(("rm -rf " + root_).c_str());
    }
    void script(const std::string& where, const std::string& body)
    {
        std::string file = root_ + where;
        std::ofstream(file) << "#!/bin/sh\n" << body;
        chmod(file.c_str(), 0755);
    }
    std::string args() const { return slurp(root_ + "/uci.args"); }
    std::string root_;
    std::string saved_path_;
};

TEST_F(ConfigTest, GetStrTrimsNewlineAndKeepsPresetForMissingKey)
{
    char buf[64] = "preset";
    get_data_str("no.such.key", buf, sizeof buf);
    EXPECT_STREQ(buf, "preset");
    get_data_str("text.with.blank", buf, sizeof buf);
    EXPECT_STREQ(buf, "hello world");
}

TEST_F(ConfigTest, GetStrCutsLongValueToBufferSize)
{
    char buf[16];
    get_data_str("long.value.key", buf, sizeof buf);
    EXPECT_EQ(strlen(buf), 15u);
}

TEST_F(ConfigTest, GetIntOverwritesWithZeroForMissingOrText)
{
    int value = 42;
    get_data_int("sms.general.debug", &value);
    EXPECT_EQ(value, 5);
    get_data_int("no.such.key", &value);
    EXPECT_EQ(value, 0);
    value = 42;
    get_data_int("text.with.blank", &value);
    EXPECT_EQ(value, 0);
    long long big = 9;
    get_data_ll("no.such.key", &big);
    EXPECT_EQ(big, 0);
}

TEST_F(ConfigTest, CommandTextsReachUciAsBuilt)
{
    set_data_str("sms.general.name", "a b  c");
    set_data_int("moskar.traffic.used", -3);
    set_data_ll("moskar.traffic.total", 5000000000LL);
    set_option_str("quorral", "general", "server", "x y");
    commit_config("moskar");
    EXPECT_EQ(args(),
              "-q set sms.general.name=a b  c\n"
              "-q set moskar.traffic.used=-3\n"
              "-q set moskar.traffic.total=5000000000\n"
              "-q set quorral.general.server=x y\n"
              "-q commit moskar\n");
}

TEST_F(ConfigTest, LongKeysAreCutToTheCommandBuffer)
{
    std::string key(200, 'k');
    char buf[8] = "keep";
    get_data_str(key.c_str(), buf, sizeof buf);
    // "uci get " plus the key fills 63 characters.
    EXPECT_EQ(args(), "get " + std::string(63 - 8, 'k') + "\n");
    EXPECT_STREQ(buf, "keep");
}

TEST_F(ConfigTest, AbsoluteCommandsRunInsideTheRouterRoot)
{
    mkdir((root_ + "/etc").c_str(), 0755);
    mkdir((root_ + "/etc/system").c_str(), 0755);
    script("/etc/system/ostrel.sh", "echo \"status $1\"\n");
    script("/etc/system/quiet.sh", "echo \"$1\" > \"$ROUTER_ROOT/ran\"\n");
    char buf[32] = {};
    EXPECT_EQ(run_cmd_line("/etc/system/ostrel.sh 2", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "status 2");
    EXPECT_EQ(run_cmd("/etc/system/quiet.sh 1"), 0);
    EXPECT_EQ(slurp(root_ + "/ran"), "1\n");
    EXPECT_NE(run_cmd("exit 3"), 0);
}

TEST_F(ConfigTest, FilesAndDigitalInputsResolveUnderTheRoot)
{
    EXPECT_EQ(append_text_file("/note", "100% done\n"), 0);
    EXPECT_EQ(append_text_file("/note", "more\n"), 0);
    EXPECT_EQ(slurp(root_ + "/note"), "100% done\nmore\n");
    EXPECT_EQ(write_text_file("/note", "fresh"), 0);
    EXPECT_EQ(slurp(root_ + "/note"), "fresh");
    EXPECT_TRUE(path_exists("/note"));
    EXPECT_EQ(remove_file("/note"), 0);
    EXPECT_FALSE(path_exists("/note"));
    EXPECT_EQ(append_text_file("/missing/dir/file", "x"), -1);

    system(("mkdir -p " + root_ + "/sys/class/gpio/dio2").c_str());
    std::ofstream(root_ + "/sys/class/gpio/dio2/value") << "1\n";
    EXPECT_EQ(read_dio(2), 1);
    EXPECT_EQ(read_dio(7), 0);
}

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
