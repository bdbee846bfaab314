// Starts the real brenlow in a sandbox against a pseudo-terminal "modem".
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "pty_peer.h"
#include "sandbox.h"

namespace {

const char* const LOG = "/tmp/modemlog.log";

class BrenlowSpine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(modem.ok());
        device = box.path("/dev_modem");
        ASSERT_EQ(0, symlink(modem.slave_name().c_str(), device.c_str()));
        pidfile = box.path("/var/run/brenlow.pid");
    }

    pid_t start(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {device, pidfile};
        args.insert(args.end(), extra.begin(), extra.end());
        return box.start(bin_path("brenlow"), args);
    }

    bool have_uci() const { return access(sim_bin_path("uci").c_str(), X_OK) == 0; }

    Sandbox box;
    PtyPeer modem;
    std::string device;
    std::string pidfile;
};

pid_t dead_pid()
{
    pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

} // namespace

TEST_F(BrenlowSpine, MissingArgumentsExitWithStatusOneAndNoLog)
{
    EXPECT_EQ(1, box.wait_exit(box.start(bin_path("brenlow"), {}), 5000));
    EXPECT_EQ(1, box.wait_exit(box.start(bin_path("brenlow"), {device}), 5000));
    EXPECT_FALSE(box.exists(LOG));
    EXPECT_FALSE(box.exists("/var/run/brenlow.pid"));
}

TEST_F(BrenlowSpine, LivePidFileRefusesTheStartAndStaysUnchanged)
{
    std::string mine = std::to_string(getpid()) + "\n";
    box.write("/var/run/brenlow.pid", mine);
    EXPECT_EQ(0, box.wait_exit(start(), 10000));
    EXPECT_EQ(mine, box.read("/var/run/brenlow.pid"));
    EXPECT_NE(std::string::npos, box.read(LOG).find("Error： Brenlow is started already: " + pidfile + ".\n"));
}

TEST_F(BrenlowSpine, StalePidFileIsReplacedAndRemovedOnDeviceLoss)
{
    box.write("/var/run/brenlow.pid", std::to_string(dead_pid()) + "\n");
    pid_t pid = start();
    ASSERT_TRUE(box.wait_for_text(LOG, "brenlow check is done", 30000));
    ASSERT_TRUE(box.wait_for_text("/var/run/brenlow.pid", std::to_string(pid) + "\n", 30000));
    // Let it settle into the loop, then take the node away.
    ASSERT_TRUE(box.wait_for_text("/calls.log", "/etc/system/ostrel.sh", 60000));
    ASSERT_EQ(0, unlink(device.c_str()));
    long long start_ms = now_ms();
    EXPECT_EQ(0, box.wait_exit(pid, 15000));
    EXPECT_LT(now_ms() - start_ms, 11000);
    EXPECT_FALSE(box.exists("/var/run/brenlow.pid"));
    EXPECT_NE(std::string::npos, box.stderr_of("brenlow").find("device " + device + " not existed\n"));
}

TEST_F(BrenlowSpine, UnopenableDeviceExitsAfterWritingThePidFile)
{
    std::string missing = box.path("/no_such_tty");
    pid_t pid = box.start(bin_path("brenlow"), {missing, pidfile});
    EXPECT_EQ(0, box.wait_exit(pid, 10000));
    EXPECT_EQ(std::to_string(pid) + "\n", box.read("/var/run/brenlow.pid"));
    EXPECT_NE(std::string::npos, box.read(LOG).find("Error： open device " + missing + " error\n"));
}

TEST_F(BrenlowSpine, LogLinesCarryDateTimeSelectorSourceAndFullWidthColon)
{
    pid_t pid = start();
    ASSERT_TRUE(box.wait_for_text(LOG, "brenlow check is done", 10000));
    std::string log = box.read(LOG);
    std::string first = log.substr(0, log.find('\n'));
    std::regex layout(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3},T0 \[brenlow\.cpp \d+\] Info\xEF\xBC\x9A start process brenlow$)");
    EXPECT_TRUE(std::regex_match(first, layout)) << first;
    box.stop(pid, SIGKILL);
}

TEST_F(BrenlowSpine, StrengthPollRunsTheScriptAndReadsUciEveryTwentySeconds)
{
    ASSERT_TRUE(have_uci()) << "uci stand-in not built (build/sim/bin/uci)";
    box.uci_package("sms", "config general 'general'\n\toption debug '5'\n\toption alarmenabled '0'\n");
    box.uci_package("mobile", "config dev_info 'dev_info1'\n\toption strength '17'\n"
                              "config dev_info 'dev_info2'\n\toption strength '23'\n");
    long long begun = now_ms();
    pid_t pid = start();
    ASSERT_TRUE(box.wait_for_text(LOG, "rssi_handling (17)", 90000)) << box.read(LOG);
    EXPECT_GE(now_ms() - begun, 19000);
    std::string calls = box.calls();
    EXPECT_NE(std::string::npos, calls.find("/etc/system/ostrel.sh \n"));
    EXPECT_NE(std::string::npos, calls.find("/etc/system/ostrel.sh 1\n"));
    EXPECT_EQ(std::string::npos, calls.find("ostrel.sh 2"));
    box.stop(pid, SIGKILL);
}

TEST_F(BrenlowSpine, SecondModuleReadsItsOwnStrengthAndSkipsTheSpool)
{
    ASSERT_TRUE(have_uci()) << "uci stand-in not built (build/sim/bin/uci)";
    box.uci_package("sms", "config command 'command'\n\toption enabled '1'\n"
                           "config general 'general'\n\toption debug '5'\n");
    box.uci_package("mobile", "config dev_info 'dev_info2'\n\toption strength '23'\n");
    box.write("/tmp/sms_tosend", "12345,hello\n");
    pid_t pid = start({"ignored", "2"});
    ASSERT_TRUE(box.wait_for_text(LOG, "rssi_handling (23)", 90000)) << box.read(LOG);
    EXPECT_NE(std::string::npos, box.calls().find("/etc/system/ostrel.sh 2\n"));
    EXPECT_TRUE(box.exists("/tmp/sms_tosend"));
    EXPECT_EQ(std::string::npos, box.read(LOG).find("gcom"));
    box.stop(pid, SIGKILL);
}
