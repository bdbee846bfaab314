#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "arguments.h"
#include "sandbox.h"
#include "watchdog.h"

namespace {

std::string ip_text(const sockaddr_in& a)
{
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return text;
}

class Arguments : public ::testing::Test {
protected:
    void SetUp() override { watch_state_reset(); }
    void TearDown() override { watch_state_reset(); }
    ArgResult parse(std::vector<std::string> words)
    {
        words_ = std::move(words);
        words_.insert(words_.begin(), "tolvane");
        argv_.clear();
        for (std::string& w : words_)
            argv_.push_back(&w[0]);
        return parse_arguments(static_cast<int>(argv_.size()), argv_.data(), &watch.settings);
    }
    const WatchSettings& s = watch.settings;

private:
    std::vector<std::string> words_;
    std::vector<char*> argv_;
};

TEST_F(Arguments, ExampleLineStartsSendModeWithDefaults)
{
    ASSERT_EQ(parse({"remote", "10.0.0.2", "local", "10.0.0.1", "dev", "eth0", "gname", "gre1", "mode", "send"}),
              ArgResult::Ok);
    EXPECT_EQ(ip_text(s.remote), "10.0.0.2");
    EXPECT_EQ(ip_text(s.local), "10.0.0.1");
    EXPECT_EQ(s.remote.sin_family, AF_INET);
    EXPECT_EQ(s.remote.sin_port, 0);
    EXPECT_STREQ(s.dev, "eth0");
    EXPECT_STREQ(s.gname, "gre1");
    EXPECT_EQ(s.mode, MODE_SEND);
    EXPECT_EQ(s.seconds, 5);
    EXPECT_EQ(s.retry, 5);
    EXPECT_EQ(s.rcv_timeout, 0);
    EXPECT_FALSE(s.debug);
    EXPECT_TRUE(settings_complete(s));
}

TEST_F(Arguments, ValueWordsAreExaminedAsKeysInTurn)
{
    ASSERT_EQ(parse({"gname", "dev", "dev", "eth0"}), ArgResult::Ok);
    EXPECT_STREQ(s.gname, "dev");
    EXPECT_STREQ(s.dev, "eth0");
    // "mode" as the value of gname is then a key itself, taking "receive".
    watch_state_reset();
    ASSERT_EQ(parse({"gname", "mode", "receive"}), ArgResult::Ok);
    EXPECT_STREQ(s.gname, "mode");
    EXPECT_EQ(s.mode, MODE_RECEIVE);
}

TEST_F(Arguments, LastValueWinsButDebugOnlyEverTurnsOn)
{
    ASSERT_EQ(parse({"debug", "1", "seconds", "3", "seconds", "x9", "debug", "0", "retry", "-2", "timeout", "12"}),
              ArgResult::Ok);
    EXPECT_TRUE(s.debug);
    EXPECT_EQ(s.seconds, 0);
    EXPECT_EQ(s.retry, -2);
    EXPECT_EQ(s.rcv_timeout, 12);
}

TEST_F(Arguments, TwentyWordsAreNotExamined)
{
    std::vector<std::string> words = {"remote", "10.0.0.2", "local", "10.0.0.1", "seconds", "1",
                                      "timeout", "2", "dev", "eth0", "gname", "gre1", "debug",
                                      "1", "retry", "3", "pid", "/nonexistent/dir/pid", "mode"};
    ASSERT_EQ(words.size() + 1, 20u);
    EXPECT_EQ(parse(words), ArgResult::Ok);
    EXPECT_FALSE(s.local_set);
    EXPECT_EQ(s.dev, nullptr);
    EXPECT_FALSE(settings_complete(s));
    words.pop_back();
    words.pop_back();
    words.pop_back(); // 17 words: examined
    watch_state_reset();
    EXPECT_EQ(parse(words), ArgResult::Ok);
    EXPECT_TRUE(s.local_set);
    EXPECT_EQ(s.retry, 3);
}

TEST_F(Arguments, KeyWithoutValueEndsAtOnceExceptRetryAndPid)
{
    for (const char* key : {"remote", "local", "seconds", "timeout", "dev", "gname", "debug", "mode"}) {
        watch_state_reset();
        EXPECT_EQ(parse({"retry", "7", key}), ArgResult::ExitNow) << key;
    }
    watch_state_reset();
    EXPECT_EQ(parse({"dev", "eth1", "retry"}), ArgResult::Ok);
    EXPECT_EQ(s.retry, 5);
    EXPECT_EQ(parse({"dev", "eth1", "pid"}), ArgResult::Ok);
}

TEST_F(Arguments, BadAddressTakesExitPathAndBadModeEndsAtOnce)
{
    EXPECT_EQ(parse({"remote", "10.0.0.256"}), ArgResult::ExitPath);
    EXPECT_EQ(parse({"local", "eth0"}), ArgResult::ExitPath);
    EXPECT_EQ(parse({"mode", "both"}), ArgResult::ExitNow);
}

TEST_F(Arguments, PidFileGetsProcessId)
{
    Sandbox sb;
    std::string path = sb.path("/var/run/tolvane.pid");
    sb.write("/var/run/tolvane.pid", "old text that is longer\n");
    ASSERT_EQ(parse({"pid", path}), ArgResult::Ok);
    EXPECT_EQ(sb.read("/var/run/tolvane.pid"), std::to_string(getpid()) + "\n");
    EXPECT_EQ(parse({"pid", sb.path("/no/such/dir/p.pid")}), ArgResult::ExitNow);
}

// The real program: messages, exit statuses and the exit path.
class Entry : public ::testing::Test {
protected:
    // Each run starts with an empty standard error file, so err() is its own.
    int run(const std::vector<std::string>& args)
    {
        sb.write("/tolvane.stderr", "");
        pid_t pid = sb.start(bin_path("tolvane"), args);
        return sb.wait_exit(pid, 10000);
    }
    std::string err() const { return sb.stderr_of("tolvane"); }
    Sandbox sb;
};

TEST_F(Entry, MissingValueExitsWithStatusOneWithoutClosingLine)
{
    EXPECT_EQ(run({"dev", "eth0", "seconds"}), 1);
    EXPECT_NE(err().find("(notice) GRE KEEPALIVE program started"), std::string::npos) << err();
    EXPECT_NE(err().find("(error) not enough arguments: seconds [number]. Exiting program."), std::string::npos)
        << err();
    EXPECT_EQ(err().find("program exited."), std::string::npos) << err();
}

TEST_F(Entry, EachKeyWithoutValueNamesItsOwnUsage)
{
    const std::vector<std::pair<std::string, std::string>> usages = {
        {"remote", "remote [ip]"},           {"local", "local [ip]"},
        {"seconds", "seconds [number]"},     {"timeout", "timeout [number]"},
        {"dev", "dev [device name]"},        {"gname", "gname [GRE name]"},
        {"debug", "debug [1 | 0]"},          {"mode", "mode [send | receive]"},
    };
    for (const auto& [key, usage] : usages) {
        EXPECT_EQ(run({"retry", "4", key}), 1) << key;
        EXPECT_NE(err().find("(error) not enough arguments: " + usage + ". Exiting program."), std::string::npos)
            << err();
        EXPECT_EQ(err().find("program exited."), std::string::npos) << err();
    }
}

TEST_F(Entry, RefusedValuesLogWhatWasWrong)
{
    EXPECT_EQ(run({"local", "1.2.3"}), 1);
    EXPECT_NE(err().find("(error) can't transform local ip. Exiting program."), std::string::npos) << err();
    EXPECT_NE(err().find("(notice) tolvane program exited."), std::string::npos) << err();
    EXPECT_EQ(run({"mode", "sender"}), 1);
    EXPECT_NE(err().find("(error) bad mode arguments, must be either send or receive. Exiting program."),
              std::string::npos)
        << err();
    EXPECT_EQ(err().find("program exited."), std::string::npos) << err();
    EXPECT_EQ(run({"pid", sb.path("/no/such/dir/tolvane.pid")}), 1);
    EXPECT_NE(err().find("(error) Cannot create PID file.. Exiting program."), std::string::npos) << err();
}

TEST_F(Entry, TwentyOneWordsStartNothingAndExitZero)
{
    EXPECT_EQ(run({"remote", "10.0.0.2", "local", "10.0.0.1", "seconds", "1", "timeout", "2", "dev", "eth0",
                   "gname", "gre1", "debug", "1", "retry", "3", "pid", "x", "mode", "send"}),
              0);
    EXPECT_NE(err().find("(error) local ip not set. Exiting program."), std::string::npos) << err();
    EXPECT_NE(err().find("(error) Failed to start the program. Need more arguments. Exiting program."),
              std::string::npos);
    EXPECT_NE(err().find("(notice) tolvane program exited."), std::string::npos);
    EXPECT_EQ(err().find("mode is set"), std::string::npos);
}

TEST_F(Entry, MissingGnameHasOnlyTheGeneralMessage)
{
    EXPECT_EQ(run({"remote", "10.0.0.2", "local", "10.0.0.1", "dev", "eth0", "mode", "receive"}), 0);
    EXPECT_NE(err().find("mode is set to GRE RECEIVE"), std::string::npos) << err();
    EXPECT_NE(err().find("Failed to start the program. Need more arguments"), std::string::npos);
    EXPECT_EQ(err().find("not set"), std::string::npos) << err();
}

TEST_F(Entry, BadAddressRemovesRegistryLineOnTheWayOut)
{
    sb.write("/tmp/keepalive_running", "120 eth0\n121 twx9\n");
    EXPECT_EQ(run({"dev", "twx9", "remote", "10.0.0.x"}), 1);
    EXPECT_NE(err().find("(error) can't transform remote ip. Exiting program."), std::string::npos) << err();
    EXPECT_NE(err().find("(notice) tolvane program exited."), std::string::npos);
    EXPECT_EQ(sb.read("/tmp/keepalive_running"), "120 eth0\n");
}

} // namespace
