// brenlow end to end on the simulated modem, in GSM and CDMA mode.
// Sends take about 21 s (GSM) and 9 s (CDMA) by design: each case keeps its
// sends few, and ctest runs the cases in parallel.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "sandbox.h"

namespace {

const char* const LOG = "/tmp/modemlog.log";
const char* const RECORD = "/etc/config/sms_record";
const char* const BOSS = "13912345678";     // command and alarm rights
const char* const WATCHER = "13700000000";  // alarm right only
const char* const STRANGER = "15500001111"; // not in the list

// One send with its set-up sequence, plus the pass it waits for, with a margin.
int send_budget_ms(bool cdma)
{
    return cdma ? 40000 : 70000;
}

class BrenlowSim : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (access(sim_bin_path("modemsim").c_str(), X_OK) != 0 || access(sim_bin_path("gcom").c_str(), X_OK) != 0)
            GTEST_SKIP() << "modem simulator not built (build/sim/bin/modemsim, gcom)";
        mode = GetParam();
        cdma = mode == "cdma";
        device = box.path("/dev_modem");
        store = box.path("/simstore");
        ASSERT_EQ(0, box.shell("mkdir -p \"$ROUTER_ROOT/simstore\""));
        box.write("/var/run/phonenum", std::string("1,1,") + BOSS + "\n0,1," + WATCHER + "\n");
    }

    // The sms package: every keyword configured as its own option name unless given.
    void configure(const std::string& command_extra = "", const std::string& rssi = "",
                   bool all_keywords = true)
    {
        std::string text = "config command 'command'\n\toption enabled '1'\n\toption smsack '1'\n";
        if (all_keywords) {
            for (const char* k : {"reboot", "cellstatus", "cellup", "celldown", "dio0set", "dio0reset", "diostatus",
                                  "wifion", "wifioff", "operlist", "operset", "forcecellup", "simswitch"})
                text += std::string("\toption ") + k + " '" + k + "'\n";
        }
        text += command_extra;
        text += "config general 'general'\n\toption debug '5'\n";
        text += rssi.empty() ? "\toption alarmenabled '0'\n" : "\toption alarmenabled '1'\n";
        text += "config rssi 'rssi'\n" + rssi;
        box.uci_package("sms", text);
    }

    void strength(int value)
    {
        box.uci_package("mobile", "config dev_info 'dev_info1'\n\toption strength '" + std::to_string(value) + "'\n");
    }

    int inject(const std::string& from, const std::string& text, int index)
    {
        return box.shell("'" + sim_bin_path("modemsim") + "' inject --mode " + mode + " --store '" + store +
                         "' --from " + from + " --text '" + text + "' --index " + std::to_string(index) +
                         " >/dev/null");
    }

    void start()
    {
        modem = box.start(sim_bin_path("modemsim"),
                          {"--mode", mode, "--device", device, "--store", store, "--log", box.path("/modem.log")});
        long long deadline = now_ms() + 10000;
        while (access(device.c_str(), F_OK) != 0 && now_ms() < deadline)
            usleep(20000);
        ASSERT_EQ(0, access(device.c_str(), F_OK)) << "modem link did not appear";
        std::vector<std::string> args = {device, box.path("/var/run/brenlow.pid"), "x", "1", cdma ? "1" : "0"};
        daemon = box.start(bin_path("brenlow"), args);
        ASSERT_GT(daemon, 0);
    }

    std::string sent() const { return box.read("/simstore/sent.log"); }
    bool wait_sent(const std::string& line, int timeout_ms) const
    {
        return box.wait_for_text("/simstore/sent.log", line, timeout_ms);
    }
    // The send returns only after its full wait, well after the modem took the message.
    bool wait_exists(const std::string& path, bool wanted, int timeout_ms = 30000) const
    {
        long long deadline = now_ms() + timeout_ms;
        while (box.exists(path) != wanted) {
            if (now_ms() > deadline)
                return false;
            usleep(100000);
        }
        return true;
    }
    bool slot_used(int index) const { return box.exists("/simstore/" + std::to_string(index)); }
    bool wait_count(const std::string& path, const std::string& needle, size_t n, int timeout_ms) const
    {
        long long deadline = now_ms() + timeout_ms;
        while (count(box.read(path), needle) < n) {
            if (now_ms() > deadline)
                return false;
            usleep(100000);
        }
        return true;
    }
    static size_t count(const std::string& text, const std::string& needle)
    {
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }

    Sandbox box;
    std::string mode;
    bool cdma = false;
    std::string device;
    std::string store;
    pid_t modem = -1;
    pid_t daemon = -1;
};

} // namespace

TEST_P(BrenlowSim, RebootKeywordIsAcknowledgedBeforeRebootRuns)
{
    configure();
    ASSERT_EQ(0, inject(BOSS, "reboot", 1));
    start();
    ASSERT_TRUE(box.wait_for_text("/calls.log", "/stubbin/reboot", send_budget_ms(cdma) + 20000)) << box.read(LOG);
    // The acknowledgement was handed to the modem before reboot ran.
    EXPECT_NE(std::string::npos, sent().find(std::string(BOSS) + "\tcommand: reboot, succeed\n"));
    EXPECT_FALSE(slot_used(1));
    EXPECT_NE(std::string::npos, box.read(RECORD).find(std::string("Received SMS: sender: ") + BOSS));
    EXPECT_NE(std::string::npos,
              box.read(RECORD).find(std::string("Sent SMS: receiver: ") + BOSS));
    EXPECT_EQ(1u, count(box.calls(), "/stubbin/reboot"));
}

TEST_P(BrenlowSim, StatusCommandsReplyWithScriptLineAndDioValues)
{
    configure();
    box.write("/answers/cell.sh_1", "LTE,-71dBm,CMCC\nsecond line\n");
    box.write("/sys/class/gpio/dio1/value", "1\n");
    box.write("/sys/class/gpio/dio3/value", "1\n");
    ASSERT_EQ(0, inject(BOSS, "cellstatus", 1));
    ASSERT_EQ(0, inject(BOSS, "diostatus", 2));
    start();
    ASSERT_TRUE(wait_sent(std::string(BOSS) + "\tLTE,-71dBm,CMCC\n", send_budget_ms(cdma))) << box.read(LOG);
    ASSERT_TRUE(wait_sent(std::string(BOSS) + "\tdio status:dio 0:0, dio 1: 1, dio 2: 0, dio 3: 1\n",
                          send_budget_ms(cdma)))
        << box.read(LOG);
    EXPECT_NE(std::string::npos, box.calls().find("/etc/system/cell.sh 1\n"));
}

TEST_P(BrenlowSim, SendersWithoutTheRightGetRecordLinesAndNoSms)
{
    configure();
    ASSERT_EQ(0, inject(STRANGER, "reboot", 1));
    ASSERT_EQ(0, inject(WATCHER, "reboot", 2));
    start();
    ASSERT_TRUE(box.wait_for_text(RECORD, std::string("Phone number ") + WATCHER + " is not set to recv command sms",
                                  40000))
        << box.read(LOG);
    std::string record = box.read(RECORD);
    EXPECT_NE(std::string::npos, record.find(std::string("Sent SMS: receiver: ") + STRANGER + "; time: "));
    EXPECT_NE(std::string::npos, record.find(std::string("Phone number ") + STRANGER + " is not configured."));
    ASSERT_TRUE(box.wait_for_text(LOG, "recvmessage is done", 20000));
    EXPECT_EQ("", sent());
    EXPECT_EQ(std::string::npos, box.calls().find("reboot"));
    EXPECT_FALSE(slot_used(1));
    EXPECT_FALSE(slot_used(2));
}

TEST_P(BrenlowSim, ScanStopsAtTheFirstEmptySlot)
{
    configure();
    ASSERT_EQ(0, inject(STRANGER, "hello one", 1));
    ASSERT_EQ(0, inject(STRANGER, "hello two", 2));
    ASSERT_EQ(0, inject(STRANGER, "hello four", 4));
    start();
    ASSERT_TRUE(box.wait_for_text(RECORD, "msg: hello two\n", 40000)) << box.read(LOG);
    // A later pass finds the store still empty at 3 and leaves 4 alone.
    ASSERT_TRUE(wait_count(LOG, "recvmessage is done", 2, 30000));
    std::string record = box.read(RECORD);
    EXPECT_NE(std::string::npos, record.find(std::string("Received SMS: sender: ") + STRANGER + "; time: "));
    EXPECT_NE(std::string::npos, record.find("msg: hello one\n"));
    EXPECT_EQ(std::string::npos, record.find("hello four"));
    EXPECT_FALSE(slot_used(1));
    EXPECT_FALSE(slot_used(2));
    EXPECT_TRUE(slot_used(4));
}

TEST_P(BrenlowSim, SpoolLinesReachThePhone)
{
    configure();
    std::string long_text(588, 'x');
    box.write("/tmp/sms_tosend", "13911112222,a,b,c\n"
                                 "13911112222,a,b,c\n"
                                 "no comma here\n"
                                 "12345678901234567,too long a number\n"
                                 "13933334444," + long_text + "\n");
    start();
    ASSERT_TRUE(wait_sent("13933334444\t" + std::string(160, 'x') + "\n", 2 * send_budget_ms(cdma)))
        << box.read(LOG);
    std::string out = sent();
    EXPECT_EQ(1u, count(out, "13911112222\ta,b,c\\n\n")) << out;
    EXPECT_EQ(2u, count(out, "\n")) << out;
    EXPECT_NE(std::string::npos, box.read(LOG).find("Error： bad phone number in spool line: 12345678901234567,"));
    EXPECT_NE(std::string::npos, box.read(RECORD).find("Sent SMS: receiver: 13911112222; time: "));
    EXPECT_TRUE(wait_exists("/tmp/sms_sending", false));
    EXPECT_FALSE(box.exists("/tmp/sms_tosend"));
}

TEST_P(BrenlowSim, LeftOverBatchIsSentBeforeTheNewSpool)
{
    configure();
    box.write("/tmp/sms_sending", "13955556666,left over\n");
    box.write("/tmp/sms_tosend", "13977778888,fresh\n");
    start();
    ASSERT_TRUE(wait_sent("13977778888\tfresh\\n\n", 2 * send_budget_ms(cdma))) << box.read(LOG);
    std::string out = sent();
    size_t left = out.find("13955556666\tleft over\\n\n");
    ASSERT_NE(std::string::npos, left) << out;
    EXPECT_LT(left, out.find("13977778888"));
}

TEST_P(BrenlowSim, AlarmRaisesAfterBadReadingsAndRetriesAFailedSend)
{
    configure("", "\toption rssialarm '1'\n\toption sigthres '10'\n\toption failedthres '1'\n"
                  "\toption normalthres '3'\n");
    // One alarm entry: a second one taking the message would end the retries.
    box.write("/var/run/phonenum", std::string("1,1,") + BOSS + "\n");
    strength(5);
    // GSM sees the failed submission in the modem's answer; CDMA does not look.
    if (!cdma)
        box.write("/simstore/.fail_next_send", "");
    start();
    std::string alarm = std::string(BOSS) + "\tRSSI Alarm ariased,RSSI:5\n";
    int budget = 30000 + send_budget_ms(cdma) + (cdma ? 0 : 30000 + send_budget_ms(cdma));
    ASSERT_TRUE(wait_sent(alarm, budget)) << box.read(LOG);
    EXPECT_TRUE(wait_exists("/var/run/RSSIALARM", true));
    if (!cdma) {
        EXPECT_NE(std::string::npos, box.read(RECORD).find("msg: send RSSI Alarm SMS failed,try again later."));
    }
}

TEST_P(BrenlowSim, MarkerAtStartKeepsTheAlarmUntilGoodReadingsClearIt)
{
    configure("", "\toption rssialarm '1'\n\toption sigthres '10'\n\toption failedthres '3'\n"
                  "\toption normalthres '1'\n");
    box.write("/var/run/phonenum", std::string("1,1,") + BOSS + "\n");
    box.write("/var/run/RSSIALARM", "");
    strength(20);
    start();
    // normalthres 1: the second good reading, about 40 s in, sends the cleared message.
    long long begun = now_ms();
    ASSERT_TRUE(wait_sent(std::string(BOSS) + "\tRSSI Alarm cleared,RSSI:20\n", 60000 + send_budget_ms(cdma)))
        << box.read(LOG);
    EXPECT_GE(now_ms() - begun, 35000);
    EXPECT_TRUE(wait_exists("/var/run/RSSIALARM", false));
}

INSTANTIATE_TEST_SUITE_P(Modes, BrenlowSim, ::testing::Values("gsm", "cdma"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Faults of remote commands; no replies (smsack off), so GSM mode alone keeps them quick.
class BrenlowSimCommands : public BrenlowSim {};

TEST_P(BrenlowSimCommands, OperatorCodeReachesTheScriptAndShellTextIsRefused)
{
    configure("\toption smsack '0'\n");
    ASSERT_EQ(0, inject(BOSS, "operset 46001", 1));
    ASSERT_EQ(0, inject(BOSS, "operset 46001;reboot", 2));
    ASSERT_EQ(0, inject(BOSS, "operset 1&reboot", 3));
    start();
    ASSERT_TRUE(box.wait_for_text(LOG, "Error： operator code refused:  46001;reboot", 40000)) << box.read(LOG);
    ASSERT_TRUE(box.wait_for_text(LOG, "Error： operator code refused:  1&reboot", 20000)) << box.read(LOG);
    std::string calls = box.calls();
    EXPECT_NE(std::string::npos, calls.find("/etc/system/cell.sh 5 46001\n"));
    EXPECT_EQ(1u, count(calls, "cell.sh 5"));
    EXPECT_EQ(std::string::npos, calls.find("reboot"));
    EXPECT_NE(std::string::npos, box.read(RECORD).find("Operator code  46001;reboot is refused"));
    EXPECT_EQ("", sent());
}

TEST_P(BrenlowSimCommands, EmptyMessageNeverMatchesAnUnconfiguredKeyword)
{
    // Only cellup is configured: reboot and the rest are empty.
    configure("\toption smsack '0'\n\toption cellup 'cellup'\n", "", false);
    ASSERT_EQ(0, inject(BOSS, "", 1));
    ASSERT_EQ(0, inject(BOSS, "cellup", 2));
    start();
    ASSERT_TRUE(box.wait_for_text("/calls.log", "/etc/system/cell.sh 2", 40000)) << box.read(LOG);
    EXPECT_EQ(std::string::npos, box.calls().find("reboot"));
    EXPECT_NE(std::string::npos, box.read(LOG).find("Error： Unknown command "));
}

INSTANTIATE_TEST_SUITE_P(Gsm, BrenlowSimCommands, ::testing::Values("gsm"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
