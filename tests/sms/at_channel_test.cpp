#include "at_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "brenlow_state.h"
#include "pty_peer.h"
#include "sandbox.h"

namespace {

char response[AT_RESPONSE_SIZE];

long long exchange_ms(int fd, const char* cmd, int timeout, int wait_mode)
{
    long long start = now_ms();
    EXPECT_EQ(0, at_command(fd, cmd, response, timeout, wait_mode));
    return now_ms() - start;
}

} // namespace

TEST(AtChannel, QuietStopReturnsSoonAfterTheAnswer)
{
    PtyPeer modem;
    ASSERT_TRUE(modem.ok());
    modem.answer_with("AT+CMGF=0\r\r\nOK\r\n");
    long long took = exchange_ms(modem.slave(), "AT+CMGF=0\r", 2, AT_QUIET_STOP);
    modem.stop();
    EXPECT_EQ("AT+CMGF=0\r", modem.received());
    EXPECT_STREQ("AT+CMGF=0\r\r\nOK\r\n", response);
    EXPECT_GE(took, 400);
    EXPECT_LT(took, 1900);
}

TEST(AtChannel, AnswerInPartsIsCollectedWithinTheBudget)
{
    PtyPeer modem;
    ASSERT_TRUE(modem.ok());
    // The echo comes at once, the result 300 ms after: both belong to one answer.
    std::thread peer([&] {
        char buf[64];
        ssize_t n = read(modem.master(), buf, sizeof buf);
        (void)n;
        ASSERT_GT(write(modem.master(), "ATE\r", 4), 0);
        usleep(500000);
        ASSERT_GT(write(modem.master(), "\r\nOK\r\n", 6), 0);
    });
    exchange_ms(modem.slave(), "ATE\r", 3, AT_QUIET_STOP);
    peer.join();
    EXPECT_STREQ("ATE\r\r\nOK\r\n", response);
}

TEST(AtChannel, WaitFullRunsTheWholeTimeout)
{
    PtyPeer modem;
    ASSERT_TRUE(modem.ok());
    modem.answer_with("OK\r\n");
    long long took = exchange_ms(modem.slave(), "AT\r", 5, AT_WAIT_FULL);
    modem.stop();
    EXPECT_STREQ("OK\r\n", response);
    EXPECT_GE(took, 4400);
    EXPECT_LT(took, 6500);
}

TEST(AtChannel, SilentModemGivesEmptyResponseAtTheDeadline)
{
    PtyPeer modem;
    ASSERT_TRUE(modem.ok());
    strcpy(response, "stale");
    long long took = exchange_ms(modem.slave(), "AT\r", 2, AT_QUIET_STOP);
    EXPECT_STREQ("", response);
    EXPECT_GE(took, 1400);
    EXPECT_LT(took, 3500);
}

TEST(AtChannel, NullCommandOnlyReadsAndEmptyCommandIsWritten)
{
    PtyPeer modem;
    ASSERT_TRUE(modem.ok());
    ASSERT_EQ(5, write(modem.master(), "RING\n", 5));
    exchange_ms(modem.slave(), nullptr, 2, AT_QUIET_STOP);
    EXPECT_STREQ("RING\n", response);
    EXPECT_EQ(1, at_write(modem.slave(), ""));
}

TEST(AtChannel, VanishedDeviceFailsTheWrite)
{
    PtyPeer modem;
    ASSERT_TRUE(modem.ok());
    int fd = dup(modem.slave());
    close(fd);
    long long start = now_ms();
    EXPECT_EQ(1, at_command(fd, "AT\r", response, 5, AT_WAIT_FULL));
    EXPECT_LT(now_ms() - start, 300);
    EXPECT_EQ(-1, at_write(fd, "AT\r"));
}

TEST(AtChannel, LongAnswerIsCutAndTerminated)
{
    PtyPeer modem;
    ASSERT_TRUE(modem.ok());
    std::string big(1500, 'x');
    ASSERT_EQ(1500, write(modem.master(), big.data(), big.size()));
    exchange_ms(modem.slave(), nullptr, 2, AT_QUIET_STOP);
    EXPECT_EQ(1023u, strlen(response));
    // The rest stays in the device for the next exchange.
    exchange_ms(modem.slave(), nullptr, 2, AT_QUIET_STOP);
    EXPECT_EQ(477u, strlen(response));
}
