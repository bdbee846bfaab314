#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>

#include "modem_line.h"
#include "sandbox.h"
#include "serial.h"

namespace {

constexpr char GSM_HELLO[] = "0011000D91683108108300F00000AA05E8329BFD06"; // "hello" to +8613800138000
constexpr char CDMA_HI[] = "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101";

class ModemSim : public ::testing::Test {
protected:
    void start(const char* mode, std::vector<std::string> extra = {})
    {
        store_ = sb_.path("/modem");
        link_ = sb_.path("/dev/ttyUSB2");
        mkdir(store_.c_str(), 0755);
        mkdir(sb_.path("/dev").c_str(), 0755);
        std::vector<std::string> args{"--mode", mode, "--device", link_, "--store", store_, "--log", sb_.path("/at.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        pid_ = sb_.start(sim_bin_path("modemsim"), args);
        ASSERT_TRUE(wait_for_path(link_, 3000)) << sb_.stderr_of("modemsim");
    }
    // Runs the inject tool; returns its output (the slot) or "exit N".
    std::string inject(const std::string& args)
    {
        std::string cmd = sim_bin_path("modemsim") + " inject --store " + store_ + " " + args;
        std::string out;
        FILE* p = popen(cmd.c_str(), "r");
        char buf[256];
        while (p && fgets(buf, sizeof buf, p))
            out += buf;
        int status = p ? pclose(p) : -1;
        return status == 0 ? out : "exit " + std::to_string(WEXITSTATUS(status));
    }
    Sandbox sb_;
    std::string store_, link_;
    pid_t pid_ = -1;
};

TEST_F(ModemSim, GsmSetupSendAndFailureMarker)
{
    start("gsm");
    ModemLine line(link_);
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.exchange("AT+CMGF=0\r", "OK\r\n"), "AT+CMGF=0\r\r\nOK\r\n");
    EXPECT_EQ(line.exchange("AT+CPMS=\"SM\",\"ME\",\"SM\"\r", "OK\r\n"),
              "AT+CPMS=\"SM\",\"ME\",\"SM\"\r\r\n+CPMS: 0,256,0,256,0,256\r\n\r\nOK\r\n");
    EXPECT_EQ(line.exchange("AT+CNMI=2,1\r", "OK\r\n"), "AT+CNMI=2,1\r\r\nOK\r\n");

    long long t0 = now_ms();
    EXPECT_EQ(line.exchange("AT+CMGS=20\r", "> "), "AT+CMGS=20\r\r\n> ");
    EXPECT_LT(now_ms() - t0, 1000) << "the prompt must come at once";
    EXPECT_EQ(line.exchange(std::string(GSM_HELLO) + "\x1A", "OK\r\n"),
              std::string(GSM_HELLO) + "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(sb_.read("/modem/sent.log"), "+8613800138000\thello\n");

    // A length that does not match the PDU is refused like a real modem does.
    line.exchange("AT+CMGS=21\r", "> ");
    EXPECT_NE(line.exchange(std::string(GSM_HELLO) + "\x1A", "\r\n", 2000).find("+CMS ERROR: 304"),
              std::string::npos);

    sb_.write("/modem/.fail_next_send", "");
    line.exchange("AT+CMGS=20\r", "> ");
    std::string failed = line.exchange(std::string(GSM_HELLO) + "\x1A", "500\r\n");
    EXPECT_NE(failed.find("+CMS ERROR: 500"), std::string::npos);
    EXPECT_EQ(failed.find("OK"), std::string::npos);
    EXPECT_FALSE(sb_.exists("/modem/.fail_next_send"));
    EXPECT_EQ(sb_.read("/modem/sent.log"), "+8613800138000\thello\n");
    EXPECT_NE(sb_.read("/at.log").find("<< AT+CMGF=0\\r"), std::string::npos);
}

TEST_F(ModemSim, ReadsAndDeletesInjectedMessagesAndSurvivesReopening)
{
    start("gsm");
    EXPECT_EQ(inject("--mode gsm --from +12345678901 --text hellohello --time 12/03/14,15:26:37"), "0\n");
    {
        ModemLine line(link_);
        EXPECT_EQ(line.exchange("AT+CMGR=0\r", "OK\r\n"),
                  "AT+CMGR=0\r\r\n+CMGR: 0,,28\r\n0891683108200505F0040B912143658709F10000213041516273000AE8329BFD4697D9EC37"
                  "\r\n\r\nOK\r\n");
        // Left unread on purpose: the next opener must not see it.
        line.send("AT+CSQ\r");
        ASSERT_TRUE(sb_.wait_for_text("/at.log", ">> AT+CSQ", 2000));
    }
    // The simulator learns of the close through inotify: generous under load.
    ASSERT_TRUE(sb_.wait_for_text("/at.log", "unread output dropped", 10000));
    ModemLine again(link_);
    ASSERT_TRUE(again.ok());
    sb_.write("/modem/.csq", "7\n");
    EXPECT_EQ(again.exchange("AT+CSQ\r", "OK\r\n"), "AT+CSQ\r\r\n+CSQ: 7,99\r\n\r\nOK\r\n");
    EXPECT_EQ(again.exchange("AT+CMGD=0\r", "OK\r\n"), "AT+CMGD=0\r\r\nOK\r\n");
    EXPECT_FALSE(sb_.exists("/modem/0"));
    EXPECT_NE(again.exchange("AT+CMGR=0\r", "\r\n+CMS ERROR: 321\r\n").find("+CMS ERROR: 321"), std::string::npos);
}

TEST_F(ModemSim, CdmaSetupSendReadAndDelete)
{
    start("cdma");
    ModemLine line(link_);
    EXPECT_EQ(line.exchange("ATE0\r", "OK\r\n"), "ATE0\r\r\nOK\r\n");
    for (const char* cmd : {"AT$QCMGF=0\r", "AT+SMSMODE=1\r", "AT$QCNMI=2,1\r"})
        EXPECT_EQ(line.exchange(cmd, "OK\r\n"), "\r\nOK\r\n") << cmd;
    EXPECT_NE(line.exchange("AT$QCPMS=\"SM\",\"SM\",\"SM\"\r", "OK\r\n").find("$QCPMS: 0,256"), std::string::npos);
    EXPECT_EQ(line.exchange("AT+CMGS=20\r", "\r\n"), "\r\nERROR\r\n");
    EXPECT_EQ(line.exchange("AT^HCMGS=44\r", "> "), "\r\n> ");
    EXPECT_EQ(line.exchange(std::string(CDMA_HI) + "\x1A", "HCMGSS: 1\r\n"),
              "\r\n^HCMGS: 1\r\n\r\nOK\r\n\r\n^HCMGSS: 1\r\n");
    EXPECT_EQ(sb_.read("/modem/sent.log"), "10086\tHi\n");

    EXPECT_EQ(inject("--mode cdma --from 10086 --text Hi --time 12/03/14,15:26:37"), "0\n");
    EXPECT_EQ(line.exchange("AT$QCMGR=0\r", "OK\r\n"),
              "\r\n$QCMGR: 0,,32\r\n000002100202040146aa1808130003100010010410148d200306120314152637\r\n\r\nOK\r\n");
    EXPECT_EQ(line.exchange("AT$QCMGD=0\r", "OK\r\n"), "\r\nOK\r\n");
    EXPECT_FALSE(sb_.exists("/modem/0"));
}

TEST_F(ModemSim, InjectTakesTheLowestFreeSlotOrTheOneAsked)
{
    start("gsm");
    EXPECT_EQ(inject("--mode gsm --from 10086 --text a"), "0\n");
    EXPECT_EQ(inject("--mode gsm --from 10086 --text b"), "1\n");
    EXPECT_EQ(inject("--mode gsm --from 10086 --text c --index 5"), "5\n");
    EXPECT_EQ(inject("--mode gsm --from 10086 --text d --index 5"), "exit 1");
    ASSERT_EQ(remove(sb_.path("/modem/0").c_str()), 0);
    EXPECT_EQ(inject("--mode gsm --from 10086 --text e"), "0\n");
    EXPECT_EQ(inject("--mode gsm --from 10086 --text f"), "2\n");
    EXPECT_EQ(inject("--mode gsm --from 10086 --text x --time 12/03/14"), "exit 2");
    EXPECT_EQ(inject("--mode gsm --from 10086 --text " + std::string(161, 'a')), "exit 2");
}

TEST_F(ModemSim, SendDelayHoldsBackOnlyTheResult)
{
    start("gsm", {"--send-delay", "600"});
    ModemLine line(link_);
    line.exchange("ATE0\r", "OK\r\n");
    line.exchange("AT+CMGS=20\r", "> ");
    long long t0 = now_ms();
    std::string early = line.exchange(std::string(GSM_HELLO) + "\x1A", "OK\r\n", 300);
    EXPECT_EQ(early, "");
    EXPECT_EQ(line.exchange("", "OK\r\n", 3000), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_GE(now_ms() - t0, 550);
}

TEST_F(ModemSim, AnswersALineSetUpTheDaemonsWay)
{
    start("gsm");
    int fd = open_port(link_.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(setup_port(fd, 115200, 8, 'N', 1, 0), 0);
    ASSERT_EQ(write(fd, "AT+CSQ\r", 7), 7);
    // Like the daemon's exchange: a pause, then whatever has arrived.
    usleep(400000);
    char buf[128] = "";
    struct pollfd pfd = {fd, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 1000), 1);
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "AT+CSQ\r\r\n+CSQ: 20,99\r\n\r\nOK\r\n");
}

TEST_F(ModemSim, RemovesItsLinkOnSigterm)
{
    start("gsm");
    sb_.stop(pid_, SIGTERM);
    EXPECT_NE(access(link_.c_str(), F_OK), 0);
    struct stat st;
    EXPECT_NE(lstat(link_.c_str(), &st), 0);
}

} // namespace
