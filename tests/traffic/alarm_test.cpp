// Alarm batches into the spool and the shutdown at the allowance.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "alarm.h"
#include "uci_batch.h"
#include "sandbox.h"

namespace {

constexpr long long MB = 1000000;

class AlarmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ROUTER_ROOT", box.root().c_str(), 1);
        setenv("PATH", box.env_path().substr(strlen("PATH=")).c_str(), 1);
        box.uci_package("moskar", "config traffic 'traffic'\n");
        memset(&state, 0, sizeof state);
        select_instance(state, nullptr);
        TrafficSettings& s = state.settings;
        s.datamax = 1000;
        s.turnoff = 1;
        sort_percent(s, "50 80 100");
        snprintf(s.phone, sizeof s.phone, "12345 +4470001");
        snprintf(s.hostname, sizeof s.hostname, "Router");
    }
    void TearDown() override { unsetenv("ROUTER_ROOT"); }

    // One cycle's alarm work at a given used volume.
    void cycle_at(long long used)
    {
        state.settings.used = used;
        check_alarm(state);
        check_allowance(state);
    }
    std::string spool() const { return box.read("/tmp/sms_tosend"); }
    int harnd_stops() const
    {
        std::string calls = box.calls();
        int n = 0;
        for (size_t at = calls.find("/etc/init.d/harnd stop"); at != std::string::npos;
             at = calls.find("/etc/init.d/harnd stop", at + 1))
            ++n;
        return n;
    }
    static std::string batch(int used_mb, int datamax = 1000, const char* host = "Router")
    {
        std::string tail = std::string(host) + " Traffic Limit Alarm: max data:" + std::to_string(datamax) +
                           "MB. used:" + std::to_string(used_mb) + "MB\n";
        return "12345," + tail + "+4470001," + tail;
    }

    Sandbox box;
    TrafficState state;
};

TEST_F(AlarmTest, LineIsNumberCommaHostAndText)
{
    char line[ALARM_LINE_SIZE];
    int n = format_alarm_line(line, sizeof line, "12345", "Router", 1000, 800 * MB + 999999);
    EXPECT_STREQ(line, "12345,Router Traffic Limit Alarm: max data:1000MB. used:800MB\n");
    EXPECT_EQ(n, static_cast<int>(strlen(line)));

    char small[20];
    n = format_alarm_line(small, sizeof small, "12345", "Router", 1000, 0);
    EXPECT_STREQ(small, "12345,Router Traff\n");
    EXPECT_EQ(n, 19);
}

TEST_F(AlarmTest, OneBatchPerNewPercentageThenShutdownOnce)
{
    cycle_at(500 * MB - 1);
    EXPECT_EQ(spool(), "");
    EXPECT_EQ(state.settings.alarmsent, 0);

    cycle_at(500 * MB);
    EXPECT_EQ(state.settings.alarmsent, 50);
    EXPECT_EQ(spool(), batch(500));
    cycle_at(600 * MB);
    EXPECT_EQ(spool(), batch(500));

    cycle_at(800 * MB);
    EXPECT_EQ(state.settings.alarmsent, 80);
    EXPECT_EQ(spool(), batch(500) + batch(800));
    EXPECT_EQ(harnd_stops(), 0);

    cycle_at(1000 * MB);
    EXPECT_EQ(state.settings.alarmsent, 100);
    EXPECT_EQ(spool(), batch(500) + batch(800) + batch(1000));
    EXPECT_EQ(harnd_stops(), 1);
    EXPECT_EQ(state.shut_down, 1);
    // Committed before the connection stops, whatever the commit interval.
    EXPECT_NE(box.read("/etc/config/moskar").find("option force_shutdown '1'"), std::string::npos);

    cycle_at(1200 * MB);
    EXPECT_EQ(spool(), batch(500) + batch(800) + batch(1000));
    EXPECT_EQ(harnd_stops(), 1);
}

TEST_F(AlarmTest, JumpPastTwoPercentagesSendsOneBatch)
{
    cycle_at(400 * MB);
    cycle_at(900 * MB);
    EXPECT_EQ(state.settings.alarmsent, 80);
    EXPECT_EQ(spool(), batch(900));
}

TEST_F(AlarmTest, AlarmsentFromEarlierRunSilencesLowerPercentages)
{
    state.settings.alarmsent = 80;
    cycle_at(500 * MB);
    cycle_at(850 * MB);
    EXPECT_EQ(spool(), "");
    cycle_at(1000 * MB);
    EXPECT_EQ(spool(), batch(1000));
}

TEST_F(AlarmTest, TurnoffZeroAlarmsButKeepsConnection)
{
    state.settings.turnoff = 0;
    state.settings.commit_interval = 300;
    cycle_at(1000 * MB);
    EXPECT_EQ(spool(), batch(1000));
    // The percentage waits in the batch, marked to be committed at once.
    EXPECT_TRUE(state.commit_now);
    EXPECT_FALSE(uci_batch_empty(state.writes));
    EXPECT_EQ(harnd_stops(), 0);
    EXPECT_EQ(state.shut_down, 0);
}

TEST_F(AlarmTest, ZeroAllowanceShutsDownAtOnceAndCountsEveryPercentage)
{
    state.settings.datamax = 0;
    cycle_at(0);
    EXPECT_EQ(state.settings.alarmsent, 100);
    EXPECT_EQ(spool(), batch(0, 0));
    EXPECT_EQ(harnd_stops(), 1);
}

TEST_F(AlarmTest, LargeAllowanceThresholdsDoNotOverflow)
{
    // 10 × 3 000 000 MB × 80 % is past 2^31 KB.
    EXPECT_EQ(alarm_threshold_kb(3000000, 80), 2400000000LL);
    state.settings.datamax = 3000000;
    cycle_at(1000 * MB);
    EXPECT_EQ(state.settings.alarmsent, 0);
    EXPECT_EQ(spool(), "");
    EXPECT_EQ(harnd_stops(), 0);
}

TEST_F(AlarmTest, ShellCharactersInHostAndNumbersReachSpoolUnchanged)
{
    const char* host = "Ro'ut\"er $(touch /tmp/mk_injected) `id` \\c";
    snprintf(state.settings.hostname, sizeof state.settings.hostname, "%s", host);
    snprintf(state.settings.phone, sizeof state.settings.phone, "1;touch${IFS}/tmp/mk_inj2 '5'");
    cycle_at(500 * MB);
    std::string tail = std::string(host) + " Traffic Limit Alarm: max data:1000MB. used:500MB\n";
    EXPECT_EQ(spool(), "1;touch${IFS}/tmp/mk_inj2," + tail + "'5'," + tail);
    EXPECT_FALSE(box.exists("/tmp/mk_injected"));
    EXPECT_NE(access("/tmp/mk_injected", F_OK), 0);
    EXPECT_NE(access("/tmp/mk_inj2", F_OK), 0);
}

} // namespace

namespace {

TEST_F(AlarmTest, SettingsAndAlarmsentAreRestoredFromUci)
{
    box.uci_package("moskar", "config traffic 'traffic2'\n\toption enabled '1'\n\toption period 'week'\n"
                              "\toption start_week '3'\n\toption start_hour '08:30'\n\toption phone '12345 +4470001'\n"
                              "\toption datamax '1000'\n\tlist percent '100'\n\tlist percent 'x'\n\tlist percent '50'\n"
                              "\tlist percent '80'\n\toption used '850000000'\n\toption endtime '1700000000'\n"
                              "\toption alarmsent '80'\n\toption turnoff '1'\n\toption debug '4'\n");
    box.write("/etc/config/system", "config system\n\toption hostname 'Router'\n");
    memset(&state, 0, sizeof state);
    select_instance(state, "2");
    ASSERT_STREQ(state.section, "traffic2");
    prepare_config(state);
    const TrafficSettings& s = state.settings;
    EXPECT_EQ(s.enabled, 1);
    EXPECT_STREQ(s.period, "week");
    EXPECT_EQ(s.start_week, 3);
    EXPECT_STREQ(s.start_hour, "08:30");
    EXPECT_EQ(s.percent[0], 50);
    EXPECT_EQ(s.percent[1], 80);
    EXPECT_EQ(s.percent[2], 100);
    EXPECT_EQ(s.percent[3], 0);
    EXPECT_EQ(s.endtime, 1700000000);
    EXPECT_EQ(s.debug, 4);
    EXPECT_STREQ(s.hostname, "Router");

    // The restarted daemon does not repeat the alarms of this period.
    cycle_at(s.used);
    EXPECT_EQ(spool(), "");
    cycle_at(1000 * MB);
    EXPECT_EQ(spool(), batch(1000));
    box.shell("uci -q commit moskar");
    EXPECT_EQ(box.uci_get("moskar.traffic2.alarmsent"), "100");
    EXPECT_EQ(box.uci_get("moskar.traffic2.force_shutdown"), "1");
}

} // namespace
