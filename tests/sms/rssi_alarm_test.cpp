#include "rssi_alarm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "brenlow_state.h"
#include "sandbox.h"

namespace {

SmsConfig thresholds(int sig, int failed, int normal)
{
    SmsConfig c{};
    c.alarmenabled = 1;
    c.rssialarm = 1;
    c.sigthres = sig;
    c.failedthres = failed;
    c.normalthres = normal;
    return c;
}

void reset(int status)
{
    brenlow.alarm_status = status;
    brenlow.failed_counter = 0;
    brenlow.succeed_counter = 0;
}

// Steps through readings; the status follows each decision as a successful send would.
std::vector<RssiAction> run(const SmsConfig& c, std::vector<int> readings)
{
    std::vector<RssiAction> out;
    for (int r : readings) {
        RssiAction a = rssi_step(&c, r);
        if (a == RssiAction::SendAlarm)
            brenlow.alarm_status = 1;
        if (a == RssiAction::SendCleared || a == RssiAction::ClearQuietly)
            brenlow.alarm_status = 0;
        out.push_back(a);
    }
    return out;
}

using A = RssiAction;

} // namespace

TEST(RssiStep, RaisesAfterConsecutiveBadReadingsOnly)
{
    SmsConfig c = thresholds(10, 3, 3);
    reset(0);
    EXPECT_EQ((std::vector<A>{A::None, A::None, A::SendAlarm}), run(c, {5, 5, 5}));
    reset(0);
    EXPECT_EQ((std::vector<A>{A::None, A::None, A::None, A::None}), run(c, {5, 12, 5, 5}));
    reset(0);
    EXPECT_EQ((std::vector<A>{A::None, A::None, A::SendAlarm}), run(c, {10, 10, 10})); // equal is bad
}

TEST(RssiStep, ClearsAfterMoreThanNormalthresGoodReadings)
{
    SmsConfig c = thresholds(10, 3, 3);
    reset(1);
    EXPECT_EQ((std::vector<A>{A::None, A::None, A::None, A::SendCleared}), run(c, {11, 11, 11, 11}));
}

TEST(RssiStep, CountersResumeAfterAChangeOfStatus)
{
    SmsConfig c = thresholds(10, 3, 3);
    reset(0);
    run(c, {5, 5, 5, 11, 11, 11, 11});
    ASSERT_EQ(0, brenlow.alarm_status);
    // The failed counter still stands at its threshold: one bad reading raises.
    EXPECT_EQ((std::vector<A>{A::SendAlarm}), run(c, {5}));
    // And the succeed counter above its own: one good reading clears.
    EXPECT_EQ((std::vector<A>{A::SendCleared}), run(c, {11}));
}

TEST(RssiStep, FailedSendsAreRetriedWhileBadReadingsLast)
{
    SmsConfig c = thresholds(10, 2, 3);
    reset(0);
    // Without a successful send the status stays 0 and the next bad reading tries again.
    EXPECT_EQ(A::None, rssi_step(&c, 5));
    EXPECT_EQ(A::SendAlarm, rssi_step(&c, 5));
    EXPECT_EQ(A::SendAlarm, rssi_step(&c, 5));
    EXPECT_EQ(A::None, rssi_step(&c, 15));
}

TEST(RssiStep, ZeroThresholds)
{
    SmsConfig c = thresholds(10, 0, 0);
    reset(0);
    EXPECT_EQ(A::SendAlarm, rssi_step(&c, 99)); // a counter of 0 already reaches 0
    brenlow.alarm_status = 1;
    EXPECT_EQ(A::ClearQuietly, rssi_step(&c, 99));
}

TEST(RssiHandling, SwitchedOffDoesNothing)
{
    Sandbox box;
    setenv("ROUTER_ROOT", box.root().c_str(), 1);
    brenlow.config = thresholds(10, 0, 0);
    brenlow.config.rssialarm = 0;
    brenlow.config_loaded = true;
    reset(1);
    box.write("/var/run/RSSIALARM", "");
    rssi_handling(50);
    EXPECT_EQ(1, brenlow.alarm_status);
    EXPECT_EQ(0, brenlow.succeed_counter);
    EXPECT_TRUE(box.exists("/var/run/RSSIALARM"));
    // normalthres 0: a good reading clears without any message and removes the marker.
    brenlow.config.rssialarm = 1;
    rssi_handling(50);
    EXPECT_EQ(0, brenlow.alarm_status);
    EXPECT_FALSE(box.exists("/var/run/RSSIALARM"));
    unsetenv("ROUTER_ROOT");
}

TEST(AlarmStatus, MarkerFollowsTheStatus)
{
    Sandbox box;
    setenv("ROUTER_ROOT", box.root().c_str(), 1);
    reset(0);
    set_alarm_status(1);
    EXPECT_EQ(1, brenlow.alarm_status);
    EXPECT_TRUE(box.exists("/var/run/RSSIALARM"));
    set_alarm_status(1);
    set_alarm_status(0);
    EXPECT_EQ(0, brenlow.alarm_status);
    EXPECT_FALSE(box.exists("/var/run/RSSIALARM"));
    // Without a place for the marker the status is raised all the same.
    box.shell("rm -rf \"$ROUTER_ROOT/var/run\"");
    set_alarm_status(1);
    EXPECT_EQ(1, brenlow.alarm_status);
    unsetenv("ROUTER_ROOT");
}
