// moskar's periods when the wall clock steps, as on a router without a
// real-time clock: boot in 1970 then NTP, a visit to 2040, NTP three hours
// back. libfaketime moves the daemon's wall clock (only its own, by an offset
// read from a file on every call) while CLOCK_BOOTTIME runs on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <glob.h>
#include <string>

#include "moskar_fixture.h"

namespace {

using namespace moskar_test;

// Seconds since the epoch of a UTC calendar time (the daemon runs with TZ=UTC0).
long long utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}

std::string faketime_library()
{
    glob_t found = {};
    std::string path;
    if (glob("/usr/lib/*/faketime/libfaketime.so.1", 0, nullptr, &found) == 0 && found.gl_pathc > 0)
        path = found.gl_pathv[0];
    globfree(&found);
    return path;
}

class MoskarClock : public MoskarTest {
protected:
    void SetUp() override
    {
        MoskarTest::SetUp();
        lib = faketime_library();
        // The host's library cannot be preloaded into an emulated mipsel daemon.
        if (getenv("ROUTER_TEST_EMULATOR"))
            skip_reason = "libfaketime is built for the host, not for the emulated daemon";
        else if (lib.empty() && getenv("CI"))
            ADD_FAILURE() << "libfaketime is not installed (sim/install-deps.sh installs faketime)";
        else if (lib.empty())
            skip_reason = "libfaketime is not installed (sim/install-deps.sh installs faketime)";
    }
    // The namespaces and the library: false (skip_reason says why) when the test cannot run.
    bool ready() { return skip_reason.empty() && !lib.empty() && make_net(); }
    // Starts moskar on end A with its wall clock at wall.
    bool start_at(long long wall, const std::string& instance = "")
    {
        set_clock(wall);
        // Under AddressSanitizer the preloaded library comes before its runtime.
        const char* asan = getenv("ASAN_OPTIONS");
        std::string asan_options = std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0";
        return start_in_net(net.if_a, instance,
                            {"LD_PRELOAD=" + lib, "FAKETIME_TIMESTAMP_FILE=" + box.path("/faketime"),
                             "FAKETIME_NO_CACHE=1", "FAKETIME_DONT_FAKE_MONOTONIC=1", "TZ=UTC0", asan_options}) > 0;
    }
    // Steps the daemon's wall clock to wall, as NTP or a bad time source does.
    void set_clock(long long wall)
    {
        // An offset needs its sign: a bare number is read as a date.
        char offset[32];
        snprintf(offset, sizeof offset, "%+lld\n", wall - static_cast<long long>(time(nullptr)));
        box.write("/faketime", offset);
    }
    size_t resets() { return count("set new endtime and clear used"); }
    size_t count(const std::string& needle) { return count_of(box.read("/var/log/mk.log"), needle); }
    std::string lib;
    std::string section(const char* name, long long endtime, long long used)
    {
        return std::string("config traffic '") + name + "'\n" +
               "\toption enabled '1'\n\toption period 'month'\n\toption start_month '1'\n"
               "\toption datamax '100000'\n\toption endtime '" +
               std::to_string(endtime) + "'\n\toption used '" + std::to_string(used) + "'\n";
    }
    bool wait_end(const char* section, long long end)
    {
        return wait_uci(std::string("moskar.") + section + ".endtime", std::to_string(end));
    }
    // used of a section once it is base plus the kernel's count on end A.
    bool used_is(const char* section, long long base)
    {
        long long deadline = now_ms() + WAIT_MS;
        do {
            if (uci_ll(std::string("moskar.") + section + ".used") == base + net.counted())
                return true;
            usleep(200000);
        } while (now_ms() < deadline);
        ADD_FAILURE() << section << ": used " << box.uci_get(std::string("moskar.") + section + ".used")
                      << ", want " << base << " + kernel " << net.counted();
        return false;
    }
};

constexpr long long USED = 5000000;

TEST_F(MoskarClock, BootIn1970CountsBytesIntoThePeriodTheClockLandsIn)
{
    if (!ready())
        GTEST_SKIP() << skip_reason;
    // traffic: its month ended while the router was off; traffic2: it goes on.
    box.uci_package("moskar", section("traffic", utc(2025, 6, 1), USED) + section("traffic2", utc(2025, 7, 1), USED));
    long long boot = 100 * 86400;
    ASSERT_TRUE(start_at(boot));
    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "Traffic Limit 1 used:", WAIT_MS));
    ASSERT_TRUE(start_at(boot, "2"));
    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "Traffic Limit 2 used:", WAIT_MS));
    net.send(2000000);
    // Counted while the clock says 1970, no period decided.
    EXPECT_TRUE(used_is("traffic", USED));
    EXPECT_TRUE(used_is("traffic2", USED));
    EXPECT_EQ(box.uci_get("moskar.traffic.endtime"), std::to_string(utc(2025, 6, 1)));
    EXPECT_EQ(resets(), 0u);

    set_clock(utc(2025, 6, 10, 12));
    EXPECT_TRUE(wait_end("traffic", utc(2025, 7, 1)));
    // The ended month is cleared once; the bytes since boot are this month's.
    EXPECT_TRUE(used_is("traffic", 0));
    EXPECT_TRUE(used_is("traffic2", USED));
    EXPECT_EQ(box.uci_get("moskar.traffic2.endtime"), std::to_string(utc(2025, 7, 1)));
    EXPECT_EQ(resets(), 1u) << box.read("/var/log/mk.log");
}

TEST_F(MoskarClock, VisitTo2040IsTakenBackWhenTheClockReturns)
{
    if (!ready())
        GTEST_SKIP() << skip_reason;
    box.uci_package("moskar", section("traffic", utc(2025, 7, 1), USED));
    ASSERT_TRUE(start_at(utc(2025, 6, 10, 12)));
    net.send(1000000);
    EXPECT_TRUE(used_is("traffic", USED));

    set_clock(utc(2040, 6, 15, 12));
    EXPECT_TRUE(wait_end("traffic", utc(2040, 7, 1)));
    EXPECT_EQ(box.uci_get("moskar.traffic.rendtime"), "2040-7-1 0:0:0 w0");
    EXPECT_LT(uci_ll("moskar.traffic.used"), USED);
    net.send(1000000);

    set_clock(utc(2025, 6, 10, 12, 5));
    EXPECT_TRUE(wait_end("traffic", utc(2025, 7, 1)));
    EXPECT_TRUE(used_is("traffic", USED));
    EXPECT_EQ(box.uci_get("moskar.traffic.rendtime"), "2025-7-1 0:0:0 w2");
    EXPECT_EQ(resets(), 1u);
    EXPECT_EQ(count("clock stepped"), 2u);
    // No time or volume printed wrapped: the step back is the one negative number.
    std::string log = box.read("/var/log/mk.log");
    EXPECT_EQ(log.find(" -"), log.find("stepped by -") + strlen("stepped by")) << log;
    EXPECT_EQ(log.rfind(" -"), log.find(" -")) << log;
}

TEST_F(MoskarClock, NtpThreeHoursBackLeavesOneResetForTheRealPeriodEnd)
{
    if (!ready())
        GTEST_SKIP() << skip_reason;
    box.uci_package("moskar", section("traffic", utc(2025, 7, 1), USED));
    // Three hours fast: the month ends early by this clock.
    ASSERT_TRUE(start_at(utc(2025, 6, 30, 23, 59, 55)));
    net.send(1000000);
    EXPECT_TRUE(wait_end("traffic", utc(2025, 8, 1)));
    EXPECT_EQ(resets(), 1u);

    set_clock(utc(2025, 6, 30, 21, 0, 5));
    EXPECT_TRUE(wait_end("traffic", utc(2025, 7, 1)));
    // June goes on with every byte it had.
    EXPECT_TRUE(used_is("traffic", USED));
    EXPECT_EQ(box.uci_get("moskar.traffic.rendtime"), "2025-7-1 0:0:0 w2");

    // The real end: one reset, the one that stands.
    set_clock(utc(2025, 7, 1, 0, 0, 1));
    EXPECT_TRUE(wait_end("traffic", utc(2025, 8, 1)));
    EXPECT_EQ(resets(), 2u);
    EXPECT_LT(uci_ll("moskar.traffic.used"), USED);
}

} // namespace
