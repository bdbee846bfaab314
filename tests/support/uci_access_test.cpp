#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "scratch_root.h"
#include "uci_access.h"

namespace {

// A scratch router root whose PATH leads to a scripted `uci` that records its arguments.
class UciAccessTest : public ScratchRootTest {
protected:
    void SetUp() override
    {
        ScratchRootTest::SetUp();
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
        setenv("PATH", (root_ + "/bin:" + saved_path_).c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", saved_path_.c_str(), 1);
        ScratchRootTest::TearDown();
    }
    std::string args() const { return slurp(root_ + "/uci.args"); }
    std::string saved_path_;
};

TEST_F(UciAccessTest, GetStrTrimsNewlineAndKeepsPresetForMissingKey)
{
    char buf[64] = "preset";
    get_data_str("no.such.key", buf, sizeof buf);
    EXPECT_STREQ(buf, "preset");
    get_data_str("text.with.blank", buf, sizeof buf);
    EXPECT_STREQ(buf, "hello world");
}

TEST_F(UciAccessTest, GetStrCutsLongValueToBufferSize)
{
    char buf[16];
    get_data_str("long.value.key", buf, sizeof buf);
    EXPECT_EQ(strlen(buf), 15u);
}

TEST_F(UciAccessTest, GetIntOverwritesWithZeroForMissingOrText)
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

TEST_F(UciAccessTest, CommandTextsReachUciAsBuilt)
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

TEST_F(UciAccessTest, LongKeysRunWholeOrNotAtAll)
{
    // A key past the old 64-byte command reaches uci whole.
    std::string key(100, 'k');
    char buf[8] = "keep";
    get_data_str(key.c_str(), buf, sizeof buf);
    EXPECT_EQ(args(), "get " + key + "\n");
    // One that no buffer holds is not run cut, which would read or write another option.
    std::string huge(300, 'h');
    get_data_str(huge.c_str(), buf, sizeof buf);
    EXPECT_EQ(set_option_str("moskar", huge.c_str(), "used", "1"), -1);
    EXPECT_EQ(set_data_str("sms.general.name", huge.c_str()), -1);
    EXPECT_EQ(args(), "get " + key + "\n");
    EXPECT_STREQ(buf, "keep");
}

} // namespace
