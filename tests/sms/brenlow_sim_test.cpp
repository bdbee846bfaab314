// brenlow end to end on the simulated modem, in GSM and CDMA mode.
// Sends take about 21 s (GSM) and 9 s (CDMA) by design: each case keeps its
// sends few, and ctest runs the cases in parallel.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
            FAIL() << "modem simulator not built (build/sim/bin/modemsim, gcom)";
        mode = GetParam();
        cdma = mode == "cdma";
        device = box.path("/dev_modem");
        store = box.path("/simstore");
        ASSERT_EQ(0, box.shell("mkdir -p \"$ROUTER_ROOT/simstore\""));
        box.write("/var/run/phonenum", std::string("1,1,") + BOSS + "\n0,1," + WATCHER + "\n");
    }

    // The sms package: every keyword configured as its own option name unless given.
    void configure(const std::string& command_extra = "", const std::string& rssi = "",
                   bool all_keywords = true, const std::string& general_more = "")
    {
        std::string text = "config command 'command'\n\toption enabled '1'\n\toption smsack '1'\n";
        if (all_keywords) {
            for (const char* k : {"reboot", "cellstatus", "cellup", "celldown", "dio0set", "dio0reset", "diostatus",
                                  "wifion", "wifioff", "operlist", "operset", "forcecellup", "simswitch"})
                text += std::string("\toption ") + k + " '" + k + "'\n";
        }
        text += command_extra;
        text += "config general 'general'\n\toption debug '5'\n" + general_extra;
        text += rssi.empty() ? "\toption alarmenabled '0'\n" : "\toption alarmenabled '1'\n";
        text += general_more;
        text += "config rssi 'rssi'\n" + rssi;
        box.uci_package("sms", text);
    }

    void strength(int value)
    {
        box.uci_package("mobile", "config dev_info 'dev_info1'\n\toption strength '" + std::to_string(value) + "'\n");
    }

    int inject(const std::string& from, const std::string& text, int index, const std::string& extra = "")
    {
        return box.shell("'" + sim_bin_path("modemsim") + "' inject --mode " + mode + " --store '" + store +
                         "' --from " + from + " --text '" + text + "' --index " + std::to_string(index) + extra +
                         " >/dev/null");
    }

    // The modem records every line it receives in /modem.record.
    void start(const std::vector<std::string>& modem_extra = {})
    {
        start_modem(modem_extra);
        start_daemon(device);
    }
    void start_modem(const std::vector<std::string>& modem_extra = {})
    {
        std::vector<std::string> margs = {"--mode", mode, "--device", device, "--store", store,
                                          "--log", box.path("/modem.log"), "--record", box.path("/modem.record")};
        margs.insert(margs.end(), modem_extra.begin(), modem_extra.end());
        modem = box.start(sim_bin_path("modemsim"), margs);
        ASSERT_TRUE(wait_link()) << "modem link did not appear";
    }
    bool wait_link(int timeout_ms = 10000) const
    {
        long long deadline = now_ms() + timeout_ms;
        while (access(device.c_str(), F_OK) != 0 && now_ms() < deadline)
            usleep(20000);
        return access(device.c_str(), F_OK) == 0;
    }
    void start_daemon(const std::string& path)
    {
        std::vector<std::string> args = {path, box.path("/var/run/brenlow.pid"), "x", "1", cdma ? "1" : "0"};
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

    // A program under the sandbox root, made executable.
    void script(const std::string& path, const std::string& body)
    {
        box.write(path, "#!/bin/sh\n" + body);
        ASSERT_EQ(0, chmod(box.path(path).c_str(), 0755));
    }

    Sandbox box;
    std::string general_extra; // options of the general section
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
    EXPECT_NE(std::string::npos, record.find(std::string("Phone number ") + STRANGER +
                                             " is not configured (recorded only, no SMS sent)."));
    ASSERT_TRUE(box.wait_for_text(LOG, "recvmessage is done", 20000));
    EXPECT_EQ("", sent());
    EXPECT_EQ(std::string::npos, box.calls().find("reboot"));
    EXPECT_FALSE(slot_used(1));
    EXPECT_FALSE(slot_used(2));
}

TEST_P(BrenlowSim, MessagesBehindEmptySlotsAreReadAndAnEmptyStoreCostsNoRead)
{
    configure();
    ASSERT_EQ(0, inject(STRANGER, "hello one", 1));
    ASSERT_EQ(0, inject(STRANGER, "hello two", 2));
    ASSERT_EQ(0, inject(STRANGER, "hello four", 4));
    ASSERT_EQ(0, inject(STRANGER, "hello far", 200));
    start();
    ASSERT_TRUE(wait_count(RECORD, "Received SMS: ", 4, 60000)) << box.read(LOG);
    std::string record = box.read(RECORD);
    for (const char* text : {"msg: hello one\n", "msg: hello two\n", "msg: hello four\n", "msg: hello far\n"})
        EXPECT_NE(std::string::npos, record.find(text)) << text;
    for (int index : {1, 2, 4, 200})
        EXPECT_TRUE(wait_exists("/simstore/" + std::to_string(index), false)) << index;
    // Passes over the empty store ask for the count and run no read script.
    size_t reads = count(box.read(LOG), "command SMS_INDEX=");
    ASSERT_TRUE(wait_count(LOG, "recvmessage is done", count(box.read(LOG), "recvmessage is done") + 2, 30000));
    EXPECT_EQ(reads, count(box.read(LOG), "command SMS_INDEX="));
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

TEST_P(BrenlowSim, LogLinesNameTheirUnitsAsTheyAlwaysHave)
{
    configure();
    ASSERT_EQ(0, inject(STRANGER, "units", 1));
    box.write("/tmp/sms_tosend", "13911112222,units\n");
    start();
    ASSERT_TRUE(wait_sent("13911112222\tunits\\n\n", 2 * send_budget_ms(cdma))) << box.read(LOG);
    ASSERT_TRUE(box.wait_for_text(LOG, "recvmessage is done", 20000));
    std::string log = box.read(LOG);
    // Files renamed or split for their role print the names their lines had.
    std::vector<std::string> lines = {
        "\\[brenlow\\.cpp [0-9]+\\] Info\xEF\xBC\x9A start process brenlow",
        "\\[at_channel\\.cpp [0-9]+\\] Debug\xEF\xBC\x9A cmd: ",
        "\\[sms_manager\\.cpp [0-9]+\\] Debug\xEF\xBC\x9A command res=",
    };
    if (cdma) {
        lines.push_back("\\[cdma_sms\\.cpp [0-9]+\\] Debug\xEF\xBC\x9A starting cdma_send_pdumessage");
        lines.push_back("\\[zolt_sms_pdu\\.cpp [0-9]+\\] Debug\xEF\xBC\x9A \\*\\*\\*PDU Generate Teleservice ID = 4098");
    } else {
        lines.push_back("\\[gsm_sms\\.cpp [0-9]+\\] Debug\xEF\xBC\x9A starting gsm_send_pdumessage");
    }
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_search(log, std::regex(line))) << line << "\n" << log;
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
    // Both modes see the failed submission in the modem's answer.
    box.write("/simstore/.fail_next_send", "");
    start();
    std::string alarm = std::string(BOSS) + "\tRSSI Alarm ariased,RSSI:5\n";
    int budget = 2 * (30000 + send_budget_ms(cdma));
    ASSERT_TRUE(wait_sent(alarm, budget)) << box.read(LOG);
    EXPECT_TRUE(wait_exists("/var/run/RSSIALARM", true));
    EXPECT_NE(std::string::npos, box.read(RECORD).find("msg: send RSSI Alarm SMS failed,try again later."));
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

namespace {

// Every line the modem received, from its record.
std::vector<std::string> record_lines(const Sandbox& box)
{
    std::vector<std::string> lines;
    std::istringstream in(box.read("/modem.record"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The commands brenlow and the gcom read scripts may send, and hex PDUs.
bool expected_modem_line(const std::string& line)
{
    static const std::regex allowed(
        "AT\\+CMGF=0|AT\\+CPMS=\"SM\",\"ME\",\"SM\"|AT\\+CNMI=2,1|AT\\+CMG[SRD]=[0-9]+|AT\\+CPMS\\?|"
        "AT\\$QCMGF=0|AT\\+SMSMODE=1|AT\\$QCPMS=\"SM\",\"SM\",\"SM\"|AT\\$QCNMI=2,1|AT\\^HCMGS=[0-9]+|AT\\$QCPMS\\?|"
        "AT\\$QCMG[RD]=[0-9]+|PDU [0-9A-Fa-f]+\\^Z|PDU [0-9A-Fa-f]*\\^\\[|\\^\\[");
    return std::regex_match(line, allowed);
}

} // namespace

TEST_P(BrenlowSim, HostileSpoolLinesNeverReachTheModemOutsideThePdu)
{
    configure();
    ASSERT_EQ(0, inject(STRANGER, "keep me", 3));
    std::string spool = std::string("123\r\x1a" "AT+CMGD=3\r,deletes slot 3\n") + "1+2,plus inside\n" +
                        "13911112222," + std::string(500, 'y') + ",13900000000,junk tail\n" + "13955556666,ok\n";
    box.write("/tmp/sms_tosend", spool);
    start();
    ASSERT_TRUE(wait_exists("/tmp/sms_tosend", false));
    ASSERT_TRUE(wait_exists("/tmp/sms_sending", false, 3 * send_budget_ms(cdma))) << box.read(LOG);
    EXPECT_EQ("13911112222\t" + std::string(160, 'y') + "\n13955556666\tok\\n\n", sent());
    EXPECT_TRUE(slot_used(3));
    for (const std::string& line : record_lines(box))
        EXPECT_TRUE(expected_modem_line(line)) << line;
    std::string log = box.read(LOG);
    EXPECT_NE(std::string::npos, log.find("Error： spool line refused, number 123\\r\\x1AAT+CMGD=3\\r holds byte 0x0D at 3"))
        << log;
    EXPECT_NE(std::string::npos, log.find("Error： spool line refused, number 1+2 holds byte 0x2B at 1"));
    EXPECT_NE(std::string::npos, log.find("Warning： spool line to 13911112222 longer than 511 bytes, its text is cut"));
    std::string record = box.read(RECORD);
    EXPECT_NE(std::string::npos, record.find("Sent SMS: receiver: 123\\r\\x1AAT+CMGD=3\\r; time: "));
    EXPECT_NE(std::string::npos, record.find("; msg: refused: number holds byte 0x0D at 3.\n"));
    EXPECT_EQ(std::string::npos, record.find("13900000000"));
}

TEST_P(BrenlowSim, ModemVanishingMidBatchKeepsTheRestForTheNextStart)
{
    configure();
    box.write("/tmp/sms_tosend", "13900000001,first\n13900000002,second\n13900000003,third\n");
    start({"--vanish-at", cdma ? "^HCMGS:2" : "+CMGS:2", "--vanish-for", "3000"});
    ASSERT_GE(box.wait_exit(daemon, 2 * send_budget_ms(cdma)), 0) << box.read(LOG);
    EXPECT_EQ("13900000001\tfirst\\n\n", sent());
    EXPECT_TRUE(box.exists("/tmp/sms_sending"));
    EXPECT_EQ(1u, count(box.read(RECORD), "Sent SMS: "));
    EXPECT_NE(std::string::npos, box.read(LOG).find("stopped taking writes, exiting"));
    // Started again once the modem is back, as the service manager does.
    ASSERT_TRUE(wait_link(20000));
    start_daemon(device);
    ASSERT_TRUE(wait_exists("/tmp/sms_sending", false, 3 * send_budget_ms(cdma))) << box.read(LOG);
    EXPECT_EQ("13900000001\tfirst\\n\n13900000002\tsecond\\n\n13900000003\tthird\\n\n", sent()) << box.read(LOG) << box.read("/tmp/sms_retry");
    EXPECT_EQ(3u, count(box.read(RECORD), "Sent SMS: "));
}

TEST_P(BrenlowSim, RefusedSendWithRetriesOffIsGivenUpAndTheNextGoesOut)
{
    configure("", "", true, "\toption retrytime '0'\n");
    // Both modes see the failed submission in the modem's answer.
    box.write("/simstore/.fail_next_send", "");
    box.write("/tmp/sms_tosend", "13900000001,doomed\n13900000002,after\n");
    start();
    ASSERT_TRUE(box.wait_for_text("/tmp/sms_failed", "\tnot retried, last answer: ", 2 * send_budget_ms(cdma)))
        << box.read(LOG);
    EXPECT_NE(std::string::npos, box.read("/tmp/sms_failed").find("\t13900000001,doomed\n"));
    ASSERT_TRUE(wait_sent("13900000002\tafter\\n\n", 2 * send_budget_ms(cdma))) << box.read(LOG);
    // The journal follows once the send's wait is over.
    ASSERT_TRUE(wait_count(RECORD, "Sent SMS: ", 1, 30000));
    std::string log = box.read(LOG);
    EXPECT_EQ(1u, count(log, "Error： send message error:  (doomed\\n) to 13900000001")) << log;
    EXPECT_NE(std::string::npos, log.find("Error： send message given up after 1 attempts (not retried"));
    std::string record = box.read(RECORD);
    EXPECT_EQ(1u, count(record, "Sent SMS: ")) << record;
    EXPECT_EQ(std::string::npos, record.find("doomed"));
    EXPECT_EQ("13900000002\tafter\\n\n", sent());
}

TEST_P(BrenlowSim, KillBeforeThePromptDoesNotGarbleTheNextSubmission)
{
    configure();
    box.write("/tmp/sms_tosend", "13900000001,once only\n");
    // A slow prompt: the modem asks for the PDU after the process is gone.
    start({"--stall-at", cdma ? "^HCMGS" : "+CMGS", "--stall-for", "2000"});
    ASSERT_TRUE(box.wait_for_text("/modem.record", cdma ? "AT^HCMGS=" : "AT+CMGS=", send_budget_ms(cdma)));
    box.stop(daemon, 9);
    box.wait_exit(daemon, 10000);
    start_daemon(device);
    ASSERT_TRUE(wait_exists("/tmp/sms_sending", false, 2 * send_budget_ms(cdma))) << box.read(LOG);
    EXPECT_EQ("13900000001\tonce only\\n\n", sent());
    // The modem saw the cancel, and every PDU it took was hex.
    bool cancelled = false;
    for (const std::string& line : record_lines(box)) {
        EXPECT_TRUE(expected_modem_line(line)) << line;
        cancelled = cancelled || line.find("^[") != std::string::npos;
    }
    EXPECT_TRUE(cancelled);
}

TEST_P(BrenlowSim, StalledModemDeliversEachLineOnce)
{
    configure();
    box.write("/tmp/sms_tosend", "13900000001,first\n13900000002,second\n");
    // Long enough for the first attempt to end before the modem comes to.
    start({"--stall-at", cdma ? "^HCMGS" : "+CMGS", "--stall-for", "25000"});
    ASSERT_TRUE(wait_sent("13900000002\tsecond\\n\n", 120000)) << box.read(LOG);
    EXPECT_TRUE(wait_exists("/tmp/sms_sending", false));
    EXPECT_EQ("13900000001\tfirst\\n\n13900000002\tsecond\\n\n", sent());
    EXPECT_NE(std::string::npos, box.read(LOG).find("Error： no prompt for AT"));
}

TEST_P(BrenlowSim, MessagesWithoutSenderAreJournaledAndDeleted)
{
    configure();
    ASSERT_EQ(0, box.shell("printf 'ZZZZ\\n' > \"$ROUTER_ROOT/simstore/0\"; printf '00\\n' > \"$ROUTER_ROOT/simstore/1\""));
    ASSERT_EQ(0, inject(STRANGER, "after them", 2));
    start();
    ASSERT_TRUE(box.wait_for_text(RECORD, "Phone number " + std::string(STRANGER) + " is not configured", 60000))
        << box.read(LOG);
    EXPECT_TRUE(wait_exists("/simstore/0", false));
    EXPECT_TRUE(wait_exists("/simstore/1", false));
    std::string record = box.read(RECORD);
    EXPECT_NE(std::string::npos, record.find("[no sender, pdu ZZZZ]\n")) << record;
    EXPECT_NE(std::string::npos, record.find("[no sender, pdu 00]\n")) << record;
    EXPECT_NE(std::string::npos, box.read(LOG).find("Warning： stored message 0 has no sender, deleted: ZZZZ"));
}

TEST_P(BrenlowSim, TimeStampInTheHourAfterMidnightKeepsItsMinutes)
{
    configure("\toption smsack '0'\n");
    ASSERT_EQ(0, inject(STRANGER, "late", 1, " --time 24/05/17,00:30:15"));
    start();
    std::string line = "Received SMS: sender: " + std::string(STRANGER) + "; time: 24-05-17 00:30:15; msg: late";
    EXPECT_TRUE(box.wait_for_text(LOG, line, 40000)) << box.read(LOG);
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

TEST_P(BrenlowSimCommands, HostileDevicePathReachesGcomAsOneLiteralWord)
{
    configure("\toption smsack '0'\n");
    ASSERT_EQ(0, inject(STRANGER, "hello", 1));
    start_modem();
    // A link name that passes an init script's existence test, full of shell syntax.
    std::string hostile = box.path("/m;touch a1;$(touch a2)`touch a3`'\"\nq");
    ASSERT_LT(hostile.size(), 64u);
    ASSERT_EQ(0, symlink(device.c_str(), hostile.c_str()));
    start_daemon(hostile);
    ASSERT_TRUE(box.wait_for_text(RECORD, "Phone number " + std::string(STRANGER) + " is not configured", 60000))
        << box.read(LOG);
    char cwd[512];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    for (const char* name : {"a1", "a2", "a3"}) {
        EXPECT_FALSE(box.exists(std::string("/") + name)) << name;
        EXPECT_NE(0, access((std::string(cwd) + "/" + name).c_str(), F_OK)) << name;
    }
    // The command logged stays readable: one quoted word, the newline shown escaped.
    EXPECT_NE(std::string::npos, box.read(LOG).find("gcom -d '" + box.root() + "/m;touch a1;$(touch a2)`touch a3`'\\''\"\\nq' -s '"))
        << box.read(LOG);
}

TEST_P(BrenlowSimCommands, MessageStoredAtTheFreedIndexWhileACommandRunsIsRead)
{
    configure();
    // The modem stores a new message in the lowest free index: the command's own, just freed.
    script("/etc/system/cell.sh", "'" + sim_bin_path("modemsim") + "' inject --mode gsm --store '" + store +
                                      "' --from " + STRANGER + " --text 'arrived meanwhile' >/dev/null\necho LTE\n");
    ASSERT_EQ(0, inject(BOSS, "cellstatus", 0));
    start();
    ASSERT_TRUE(wait_sent(std::string(BOSS) + "\tLTE\n", 60000)) << box.read(LOG);
    ASSERT_TRUE(box.wait_for_text(RECORD, "msg: arrived meanwhile\n", 30000)) << box.read(LOG);
    EXPECT_TRUE(wait_exists("/simstore/0", false));
}

TEST_P(BrenlowSimCommands, OnReceiveGetsEachMessageOnlyInItsEnvironment)
{
    general_extra = "\toption onreceive '" + box.path("/hook.sh") + "'\n";
    configure("\toption smsack '0'\n");
    script("/hook.sh", "printf '%s|%s|%s|%s\\n' \"$SMS_SENDER\" \"$SMS_TIME\" \"$SMS_TEXT\" \"$SMS_INDEX\" >> "
                       "\"$ROUTER_ROOT/hook.out\"\necho \"hook saw $SMS_INDEX\"\necho oops >&2\n");
    const std::string hostile = "$(touch a1) `touch a2`; touch a3 \" \\";
    ASSERT_EQ(0, inject(STRANGER, hostile, 1));
    ASSERT_EQ(0, inject(BOSS, "dio0set", 3));
    start();
    ASSERT_TRUE(wait_count("/hook.out", "\n", 2, 40000)) << box.read(LOG);
    std::string out = box.read("/hook.out");
    EXPECT_NE(std::string::npos, out.find(std::string(STRANGER) + "|")) << out;
    EXPECT_NE(std::string::npos, out.find("|" + hostile + "|1\n")) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(std::string(BOSS) + "\\|[0-9]{2}-[0-9]{2}-[0-9]{2} "
                                                                      "[0-9]{2}:[0-9]{2}:[0-9]{2}\\|dio0set\\|3\n")))
        << out;
    for (const char* name : {"/a1", "/a2", "/a3"})
        EXPECT_FALSE(box.exists(name)) << name;
    // The command still ran: the hook is beside the inbox, not instead of it.
    EXPECT_TRUE(box.wait_for_text("/calls.log", "/etc/system/dio.sh 0 1", 10000));
    ASSERT_TRUE(box.wait_for_text(LOG, "Debug： onreceive: hook saw 3", 10000)) << box.read(LOG);
    EXPECT_NE(std::string::npos, box.read(LOG).find("Debug： onreceive: oops"));
}

TEST_P(BrenlowSimCommands, OnReceiveThatHangsIsKilledWithoutHoldingTheInbox)
{
    general_extra = "\toption onreceive '" + box.path("/hook.sh") + "'\n";
    configure("\toption smsack '0'\n");
    // A child of its own that would outlive it: killed with it.
    script("/hook.sh", "sleep 300 &\necho $! >> \"$ROUTER_ROOT/hook.pids\"\nwait\n");
    ASSERT_EQ(0, inject(STRANGER, "first", 1));
    ASSERT_EQ(0, inject(STRANGER, "second", 2));
    start();
    long long begun = now_ms();
    ASSERT_TRUE(wait_count(RECORD, "Received SMS: ", 2, 30000)) << box.read(LOG);
    EXPECT_LT(now_ms() - begun, 20000) << "the inbox waited for the hook";
    ASSERT_TRUE(wait_count(LOG, "still running after 30 s, killed", 2, 60000)) << box.read(LOG);
    // Gone, or a zombie waiting for whoever took it over to reap it.
    auto alive = [](const std::string& pid) {
        std::string stat = command_output("cat /proc/" + pid + "/stat 2>/dev/null");
        size_t paren = stat.rfind(')');
        return paren != std::string::npos && stat.compare(paren + 2, 1, "Z") != 0;
    };
    std::istringstream pids(box.read("/hook.pids"));
    int checked = 0;
    for (std::string pid; std::getline(pids, pid); ++checked) {
        long long deadline = now_ms() + 5000;
        while (alive(pid) && now_ms() < deadline)
            usleep(50000);
        EXPECT_FALSE(alive(pid)) << "sleep " << pid << " outlived its hook";
    }
    EXPECT_EQ(2, checked);
}

INSTANTIATE_TEST_SUITE_P(Gsm, BrenlowSimCommands, ::testing::Values("gsm"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
