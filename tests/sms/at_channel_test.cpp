#include "at_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "brenlow_state.h"
#include "pty_peer.h"
#include "sandbox.h"
#include "stored_pdu.h"

namespace {

char response[AT_RESPONSE_SIZE];

long long exchange_ms(int fd, const char* cmd, int timeout, int wait_mode)
{
    long long start = now_ms();
    EXPECT_EQ(0, at_command(fd, cmd, response, timeout, wait_mode));
    return now_ms() - start;
}

// Plays a modem that answers the first write in pieces, each after its pause.
std::thread answer_in_pieces(PtyPeer& modem, std::vector<std::pair<int, std::string>> pieces)
{
    return std::thread([&modem, pieces] {
        char buf[64];
        ssize_t n = read(modem.master(), buf, sizeof buf);
        (void)n;
        for (const auto& [pause_ms, text] : pieces) {
            usleep(pause_ms * 1000);
            ASSERT_GT(write(modem.master(), text.data(), text.size()), 0);
        }
    });
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
    // The echo comes at once, the result 500 ms after: both belong to one answer.
    std::thread peer = answer_in_pieces(modem, {{0, "ATE\r"}, {500, "\r\nOK\r\n"}});
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

TEST(AtChannel, UntilFinalWaitsForAWholeResultLineAcrossPauses)
{
    PtyPeer modem;
    ASSERT_TRUE(modem.ok());
    // The echo at once, the reference later, the result cut in two.
    std::thread peer = answer_in_pieces(modem, {{0, "00AB\x1A"}, {1500, "\r\n+CMGS: 7\r\n\r\nO"}, {300, "K\r\n"}});
    long long took = exchange_ms(modem.slave(), "00AB\x1A", 15, AT_UNTIL_FINAL);
    peer.join();
    EXPECT_STREQ("00AB\x1A\r\n+CMGS: 7\r\n\r\nOK\r\n", response);
    EXPECT_GE(took, 1800);
    EXPECT_LT(took, 3000);
}

TEST(AtAnswer, FinalResultsPromptsReportsAndCountsAreReadFromWholeLines)
{
    char line[64];
    EXPECT_EQ(AtResult::Ok, at_final_result("AT+CMGF=0\r\r\nOK\r\n", line, sizeof line));
    EXPECT_STREQ("OK", line);
    EXPECT_EQ(AtResult::Error, at_final_result("\r\n+CMGS: 1\r\n\r\nOK\r\n\r\n+CMS ERROR: 500\r\n", line, sizeof line));
    EXPECT_STREQ("+CMS ERROR: 500", line);
    EXPECT_EQ(AtResult::Error, at_final_result("\r\nERROR\n", nullptr, 0));
    // Unfinished lines and look-alikes are no result.
    EXPECT_EQ(AtResult::None, at_final_result("\r\n+CMS ERROR: 5", nullptr, 0));
    EXPECT_EQ(AtResult::None, at_final_result("\r\nOKAY\r\n\r\nBOOK\r\n+CMTI: \"SM\",3\r\n", nullptr, 0));
    EXPECT_EQ(AtResult::None, at_final_result("", nullptr, 0));

    EXPECT_EQ(AtResult::None, cdma_submit_report("\r\n^HCMGS: 4\r\n\r\nOK\r\n", nullptr, 0));
    EXPECT_EQ(AtResult::Ok, cdma_submit_report("\r\n^HCMGS: 4\r\n\r\nOK\r\n\r\n^HCMGSS: 4\r\n", line, sizeof line));
    EXPECT_STREQ("^HCMGSS: 4", line);
    EXPECT_EQ(AtResult::Error, cdma_submit_report("\r\n^HCMGSF: 500\r\n", nullptr, 0));

    EXPECT_TRUE(prompt_waiting("AT+CMGS=14\r\r\n> "));
    // A prompt the modem has moved on from (an ESC answered after it) is not waiting.
    EXPECT_FALSE(prompt_waiting("\r\n> \r\nOK\r\n"));
    EXPECT_FALSE(prompt_waiting(">"));

    int used = -1, total = -1;
    EXPECT_TRUE(parse_storage_count("AT+CPMS?\r\r\n+CPMS: \"SM\",3,30,\"ME\",0,255,\"SM\",3,30\r\n\r\nOK\r\n", "+CPMS:",
                                    &used, &total));
    EXPECT_EQ(3, used);
    EXPECT_EQ(30, total);
    EXPECT_TRUE(parse_storage_count("\r\n$QCPMS: 12,256,12,256\r\n", "$QCPMS:", &used, &total));
    EXPECT_EQ(12, used);
    EXPECT_EQ(256, total);
    for (const char* bad : {"\r\nERROR\r\n", "\r\n+CPMS: \"SM\r\n", "\r\n+CPMS: \"SM\",,30\r\n", "+CPMS: 3", ""})
        EXPECT_FALSE(parse_storage_count(bad, "+CPMS:", &used, &total)) << bad;
}
