// The per-day series of the plot: days, period changes, the window and the
// text that has to fit one line of the uci batch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "daily.h"
#include "settings.h"

namespace {

// Noon UTC of 2026-11-01 plus n days.
time_t day(int n)
{
    return 1793534400 + n * 86400;
}

class DailyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        memset(&state, 0, sizeof state);
        select_instance(state, nullptr);
        state.settings.endtime = 1000;
    }
    std::string text(const DailySeries& s)
    {
        char out[DAILY_TEXT_SIZE];
        daily_format(s, out, sizeof out);
        return out;
    }
    std::string batch() const { return std::string(state.writes.text, state.writes.length); }

    TrafficState state;
};

TEST_F(DailyTest, DaysAddUpAndANewPeriodKeepsTheLastOne)
{
    daily_count(state, 1400000, day(0));
    daily_count(state, 700000, day(0));
    daily_count(state, 3000000, day(2));
    EXPECT_EQ(text(state.daily.current), "20261101 2 0 3");
    EXPECT_NE(batch().find("set moskar.traffic.daily='20261101 2 0 3'\n"), std::string::npos) << batch();
    // Unchanged figures queue nothing more.
    size_t queued = state.writes.length;
    daily_count(state, 1000, day(2));
    EXPECT_EQ(state.writes.length, queued);

    state.settings.endtime = 2000;
    daily_count(state, 5000000, day(3));
    EXPECT_EQ(text(state.daily.current), "20261104 5");
    EXPECT_EQ(text(state.daily.previous), "20261101 2 0 3");
    EXPECT_NE(batch().find("daily_prev='20261101 2 0 3'"), std::string::npos) << batch();

    // A clock set back counts on the newest day.
    daily_count(state, 1000000, day(-40));
    EXPECT_EQ(text(state.daily.current), "20261104 6");
}

TEST_F(DailyTest, WindowKeepsTheNewestDaysWithinABatchLine)
{
    for (int n = 0; n < 40; ++n)
        daily_count(state, 123456LL * DAILY_BYTES_PER_MB, day(n));
    const DailySeries& s = state.daily.current;
    EXPECT_EQ(s.count, DAILY_DAYS_MAX);
    std::string shown = text(s);
    EXPECT_LT(shown.size(), static_cast<size_t>(DAILY_TEXT_SIZE));
    EXPECT_EQ(shown.substr(shown.size() - 7), " 123456");
    // The text leaves out the oldest days it has no room for; it reads back as
    // the newest days, the last one on the last day counted.
    DailySeries back;
    daily_parse(shown.c_str(), &back);
    ASSERT_GT(back.count, 20);
    time_t first = day(40 - back.count);
    char date[16];
    strftime(date, sizeof date, "%Y%m%d", gmtime(&first));
    EXPECT_EQ(std::to_string(back.first_day), date);
    char last[DAILY_TEXT_SIZE];
    daily_format(back, last, sizeof last);
    EXPECT_EQ(shown, last);
    for (const char* bad : {"", "x", "19691231 5", "20261101", "20261101 -3"}) {
        daily_parse(bad, &back);
        EXPECT_EQ(back.count, 0) << bad;
    }
}

} // namespace
