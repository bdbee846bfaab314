// What moskar reads when uci refuses its package or leaves an option out,
// through the real uci stand-in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sandbox.h"
#include "settings.h"
#include "uci_check.h"

namespace {

const std::string MK_LOG = "/var/log/mk.log";
const char* REFUSAL = "Error： cannot read UCI package moskar, its options read as 0: ";

// Points this process's uci calls at a sandbox, as a started daemon's are.
class InProcessUci : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* path = getenv("PATH");
        saved_path = path ? path : "/usr/bin:/bin";
        setenv("ROUTER_ROOT", sb.root().c_str(), 1);
        setenv("PATH", sb.env_path().substr(5).c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", saved_path.c_str(), 1);
        unsetenv("ROUTER_ROOT");
    }

    Sandbox sb;
    std::string saved_path;
};

TEST_F(InProcessUci, CheckTellsARefusedPackageFromAMissingOrReadableOne)
{
    char reason[UCI_REFUSAL_SIZE] = "untouched";
    sb.uci_package("moskar", "config moskar 'traffic'\n\toption enabled '1'\n");
    EXPECT_FALSE(uci_package_refused("moskar", reason, sizeof reason));
    EXPECT_FALSE(uci_package_refused("absent", reason, sizeof reason));
    EXPECT_STREQ(reason, "untouched");

    sb.uci_package("moskar", "option enabled '1'\nconfig moskar 'traffic'\n");
    ASSERT_TRUE(uci_package_refused("moskar", reason, sizeof reason));
    EXPECT_STREQ(reason, "Parse error (option/list command found before the first section) at line 1, byte 0");
    char small[12];
    ASSERT_TRUE(uci_package_refused("moskar", small, sizeof small));
    EXPECT_STREQ(small, "Parse error");
}

// On a router an empty option (the shipped phone, and everything else of a
// refused package) is absent: the settings must come out as for a missing one.
TEST_F(InProcessUci, EmptyAndMissingOptionsGiveTheSameSettings)
{
    auto settings_of = [&](const std::string& package) {
        sb.uci_package("moskar", package);
        TrafficState state{};
        select_instance(state, nullptr);
        prepare_config(state);
        return state.settings;
    };
    TrafficSettings empty = settings_of("config moskar 'traffic'\n\toption enabled '1'\n\toption phone ''\n"
                                        "\toption period ''\n\toption datamax ''\n");
    TrafficSettings missing = settings_of("config moskar 'traffic'\n\toption enabled '1'\n");
    EXPECT_STREQ(empty.phone, "");
    EXPECT_STREQ(empty.period, "");
    EXPECT_EQ(empty.datamax, 0);
    EXPECT_EQ(empty.enabled, 1);
    EXPECT_EQ(memcmp(&empty, &missing, sizeof empty), 0);
}

class MoskarStart : public ::testing::Test {
protected:
    // Starts instance 1 on an interface that does not exist: each cycle then
    // logs a failed reading, which shows the start is over.
    std::string start_log(const std::string& package)
    {
        sb.uci_package("moskar", package);
        sb.uci_package("system", "config system\n\toption hostname 'Router'\n");
        pid_t pid = sb.start(bin_path("moskar"), {"mkabsent0", sb.path("/var/run/moskar1.pid")});
        EXPECT_GT(pid, 0);
        EXPECT_TRUE(sb.wait_for_text(MK_LOG, "get interface info failed", 30000)) << sb.read(MK_LOG);
        sb.stop(pid);
        return sb.read(MK_LOG);
    }

    Sandbox sb;
};

size_t count(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

TEST_F(MoskarStart, LogsOnceThatItsPackageIsRefused)
{
    std::string log = start_log("config moskar 'traffic'\n\toption enabled '1'\n\toption period 'month\n");
    EXPECT_EQ(count(log, std::string(REFUSAL) + "Parse error (EOF with unterminated ') at line 3, byte 22\n"), 1u)
        << log;
    // Every option read as 0: the limit is off.
    EXPECT_NE(log.find("traffic limitation functionality is not enabled"), std::string::npos) << log;
}

TEST_F(MoskarStart, SaysNothingOfAPackageThatReads)
{
    std::string log = start_log("config moskar 'traffic'\n\toption enabled '1'\n\toption phone ''\n");
    EXPECT_EQ(log.find("cannot read UCI package"), std::string::npos) << log;
    EXPECT_EQ(log.find("not enabled"), std::string::npos) << log;
}

} // namespace
