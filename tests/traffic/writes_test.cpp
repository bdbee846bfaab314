// The instance's option writes through one uci batch, and when they commit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "sandbox.h"
#include "state_writes.h"

namespace {

class WritesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ROUTER_ROOT", box.root().c_str(), 1);
        setenv("PATH", box.env_path().substr(strlen("PATH=")).c_str(), 1);
        box.uci_package("moskar", "config traffic 'traffic'\n\toption used '5'\n");
        memset(&state, 0, sizeof state);
        select_instance(state, nullptr);
    }
    void TearDown() override { unsetenv("ROUTER_ROOT"); }
    // What the package file holds, committed values only.
    std::string committed() const { return box.read("/etc/config/moskar"); }

    Sandbox box;
    TrafficState state;
};

TEST_F(WritesTest, OneBatchSetsEveryKindOfValueAndCommits)
{
    write_option_ll(state, "used", 12345678901LL);
    write_option_int(state, "alarmsent", 80);
    // A text with a blank and a double quote still arrives as one value.
    write_option_str(state, "rendtime", "2025-3-1 0:0:0 \"w6\"");
    flush_writes(state);
    EXPECT_TRUE(uci_batch_empty(state.writes));
    EXPECT_EQ(box.uci_get("moskar.traffic.used"), "12345678901");
    EXPECT_EQ(box.uci_get("moskar.traffic.alarmsent"), "80");
    EXPECT_EQ(box.uci_get("moskar.traffic.rendtime"), "2025-3-1 0:0:0 \"w6\"");
    // Interval 0: committed in the same batch.
    EXPECT_NE(committed().find("12345678901"), std::string::npos) << committed();
}

TEST_F(WritesTest, IntervalHoldsCommitsBackUntilAskedOrDue)
{
    state.settings.commit_interval = 300;
    write_option_ll(state, "used", 100);
    flush_writes(state); // the first flush commits: nothing was committed yet
    EXPECT_NE(committed().find("'100'"), std::string::npos) << committed();

    write_option_ll(state, "used", 200);
    flush_writes(state);
    // Set but not committed: uci shows the live value, the file the old one.
    EXPECT_EQ(box.uci_get("moskar.traffic.used"), "200");
    EXPECT_NE(committed().find("'100'"), std::string::npos) << committed();

    commit_soon(state);
    flush_writes(state);
    EXPECT_NE(committed().find("'200'"), std::string::npos) << committed();
    EXPECT_FALSE(state.commit_now);

    // Due again once the interval has passed.
    write_option_ll(state, "used", 300);
    state.next_commit = 0;
    flush_writes(state);
    EXPECT_NE(committed().find("'300'"), std::string::npos) << committed();
}

TEST_F(WritesTest, BatchLargerThanItsBufferLosesNoCommand)
{
    // Each line is about 40 bytes: 200 of them pass the buffer several times.
    for (int i = 0; i < 200; ++i)
        write_option_int(state, ("o" + std::to_string(i)).c_str(), i);
    flush_writes(state);
    EXPECT_EQ(box.uci_get("moskar.traffic.o0"), "0");
    EXPECT_EQ(box.uci_get("moskar.traffic.o123"), "123");
    EXPECT_EQ(box.uci_get("moskar.traffic.o199"), "199");
}

TEST_F(WritesTest, FailingLineLeavesTheRestOfTheBatch)
{
    uci_batch_set_int(state.writes, "moskar", "nosuchsection", "used", 1);
    write_option_int(state, "alarmsent", 90);
    flush_writes(state);
    EXPECT_EQ(box.uci_get("moskar.traffic.alarmsent"), "90");
    EXPECT_NE(committed().find("'90'"), std::string::npos) << committed();
}

TEST_F(WritesTest, MissingUciIsReportedNotFatal)
{
    setenv("PATH", (box.root() + "/nosuchdir").c_str(), 1);
    write_option_int(state, "alarmsent", 90);
    EXPECT_EQ(uci_batch_run(state.writes), -1);
    EXPECT_TRUE(uci_batch_empty(state.writes));
    EXPECT_EQ(uci_batch_run(state.writes), 0);
}

} // namespace
