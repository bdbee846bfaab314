// brenlow with the unicode option on the simulated modem: long messages
// joined from parts (across a restart and after a time-out) and long texts
// sent in parts, all read back by the simulator's own codec.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "sandbox.h"

namespace {

const char* const LOG = "/tmp/modemlog.log";
const char* const RECORD = "/etc/config/sms_record";
const char* const PARTS = "/tmp/sms_parts";
const char* const BOSS = "13912345678";
const char* const STRANGER = "15500001111"; // not in the list: nothing is ever sent to it

size_t count(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

std::string hex(const std::string& text)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

class BrenlowUnicode : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (access(sim_bin_path("modemsim").c_str(), X_OK) != 0 || access(sim_bin_path("gcom").c_str(), X_OK) != 0)
            FAIL() << "modem simulator not built (build/sim/bin/modemsim, gcom)";
        mode = GetParam();
        device = box.path("/dev_modem");
        store = box.path("/simstore");
        ASSERT_EQ(0, box.shell("mkdir -p \"$ROUTER_ROOT/simstore\" \"$ROUTER_ROOT/tmp\""));
        box.write("/var/run/phonenum", std::string("1,1,") + BOSS + "\n");
        box.uci_package("sms", "config command 'command'\n\toption enabled '1'\n\toption smsack '1'\n"
                               "config general 'general'\n\toption debug '5'\n\toption unicode '1'\n");
    }

    int inject(const std::string& from, const std::string& text, int index, const std::string& concat = "")
    {
        return box.shell("'" + sim_bin_path("modemsim") + "' inject --mode " + mode + " --store '" + store +
                         "' --from " + from + " --text '" + text + "' --index " + std::to_string(index) +
                         (concat.empty() ? "" : " --concat " + concat) + " >/dev/null");
    }

    void start_modem()
    {
        modem = box.start(sim_bin_path("modemsim"), {"--mode", mode, "--device", device, "--store", store});
        long long deadline = now_ms() + 10000;
        while (access(device.c_str(), F_OK) != 0 && now_ms() < deadline)
            usleep(20000);
        ASSERT_EQ(0, access(device.c_str(), F_OK)) << "modem link did not appear";
    }

    void start_daemon()
    {
        daemon = box.start(bin_path("brenlow"),
                           {device, box.path("/var/run/brenlow.pid"), "x", "1", mode == "cdma" ? "1" : "0"});
        ASSERT_GT(daemon, 0);
    }

    bool slot_used(int index) const { return box.exists("/simstore/" + std::to_string(index)); }

    Sandbox box;
    std::string mode;
    std::string device;
    std::string store;
    pid_t modem = -1;
    pid_t daemon = -1;
};

TEST_P(BrenlowUnicode, PartsAreHeldAcrossARestartAndHandledOnceJoined)
{
    // The owner's program sees the joined text once.
    box.uci_package("sms", "config command 'command'\n\toption enabled '1'\n\toption smsack '1'\n"
                           "config general 'general'\n\toption debug '5'\n\toption unicode '1'\n"
                           "\toption onreceive '" + box.path("/hook.sh") + "'\n");
    box.write("/hook.sh", "#!/bin/sh\nprintf '%s|%s\\n' \"$SMS_TEXT\" \"$SMS_INDEX\" >> \"$ROUTER_ROOT/hook.out\"\n");
    ASSERT_EQ(0, chmod(box.path("/hook.sh").c_str(), 0755));
    // The third and the first part first; the second (Unicode, the others GSM alphabet) after a restart.
    ASSERT_EQ(0, inject(STRANGER, "end €", 0, "77/3/3"));
    ASSERT_EQ(0, inject(STRANGER, "Grüße @home, ", 1, "77/3/1"));
    start_modem();
    start_daemon();
    ASSERT_TRUE(box.wait_for_text(LOG, "part 1 of 3 from " + std::string(STRANGER) + " kept", 30000)) << box.read(LOG);
    long long deadline = now_ms() + 10000;
    while ((slot_used(0) || slot_used(1)) && now_ms() < deadline)
        usleep(100000);
    EXPECT_FALSE(slot_used(0));
    EXPECT_FALSE(slot_used(1));
    EXPECT_EQ(2u, count(box.read(PARTS), "\n"));
    EXPECT_EQ(std::string::npos, box.read(RECORD).find("Received SMS"));

    box.stop(daemon);
    ASSERT_EQ(0, inject(STRANGER, "开会 $5 ", 0, "77/3/2"));
    start_daemon();
    const std::string joined = "Grüße @home, 开会 $5 end €";
    ASSERT_TRUE(box.wait_for_text(RECORD, "msg: " + joined + "\n", 30000)) << box.read(LOG);
    // Handled as one message: one refusal line for the unknown sender, then
    // the held parts are gone from the file.
    ASSERT_TRUE(box.wait_for_text(RECORD, "is not configured", 10000));
    deadline = now_ms() + 10000;
    while (!box.read(PARTS).empty() && now_ms() < deadline)
        usleep(100000);
    EXPECT_EQ("", box.read(PARTS));
    EXPECT_EQ(1u, count(box.read(RECORD), "Received SMS"));
    EXPECT_EQ(1u, count(box.read(RECORD), "is not configured"));
    ASSERT_TRUE(box.wait_for_text("/hook.out", "\n", 10000)) << box.read(LOG);
    EXPECT_EQ(joined + "|0\n", box.read("/hook.out"));
}

TEST_P(BrenlowUnicode, OverduePartsAreHandledWithAWarning)
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    long long old = static_cast<long long>(ts.tv_sec) - 700;
    box.write(PARTS, "9 2 1 " + std::to_string(old) + " " + hex(STRANGER) + " " + hex("26120810203000") + " " +
                         hex("first half only") + "\n");
    start_modem();
    start_daemon();
    ASSERT_TRUE(box.wait_for_text(RECORD, "msg: first half only\n", 30000)) << box.read(LOG);
    EXPECT_NE(std::string::npos, box.read(LOG).find("incomplete: 1 of 2 parts arrived"));
    long long deadline = now_ms() + 10000;
    while (!box.read(PARTS).empty() && now_ms() < deadline)
        usleep(100000);
    EXPECT_EQ("", box.read(PARTS));
}

INSTANTIATE_TEST_SUITE_P(Modes, BrenlowUnicode, ::testing::Values("gsm", "cdma"));

class BrenlowUnicodeGsm : public BrenlowUnicode {};

TEST_P(BrenlowUnicodeGsm, TextBeyondOneUcs2MessageGoesInTwoParts)
{
    // 101 UTF-16 units with the spool's newline: parts of 67 and 35.
    std::string text = "中" + std::string(100, 'x');
    box.write("/tmp/sms_tosend", std::string(BOSS) + "," + text + "\n");
    start_modem();
    start_daemon();
    ASSERT_TRUE(box.wait_for_text(RECORD, "Sent SMS: receiver: " + std::string(BOSS), 150000)) << box.read(LOG);
    std::string sent = box.read("/simstore/sent.log");
    EXPECT_EQ(2u, count(sent, std::string(BOSS) + "\t")) << sent;
    EXPECT_EQ(std::string(BOSS) + "\t中" + std::string(66, 'x') + "\n" + BOSS + "\t" + std::string(34, 'x') + "\\n\n",
              sent);
}

TEST_P(BrenlowUnicodeGsm, UnicodeCommandKeywordMatchesTheDecodedText)
{
    box.uci_package("sms", "config command 'command'\n\toption enabled '1'\n\toption smsack '0'\n"
                           "\toption wifion 'Wi-Fi an ✓'\n"
                           "config general 'general'\n\toption debug '5'\n\toption unicode '1'\n");
    ASSERT_EQ(0, inject(BOSS, "Wi-Fi an ✓", 0));
    start_modem();
    start_daemon();
    ASSERT_TRUE(box.wait_for_text("/calls.log", "cell.sh 9 1", 30000)) << box.read(LOG);
}

INSTANTIATE_TEST_SUITE_P(Gsm, BrenlowUnicodeGsm, ::testing::Values("gsm"));

} // namespace
