// brenlow's outbox end to end on the simulated modem: real writers, an
// outage and a restart in it, odd files at the spool paths, long texts.
// Every message the phone got is compared with every line written.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "sandbox.h"

namespace {

const char* const LOG = "/tmp/modemlog.log";

class BrenlowOutbox : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, box.shell("mkdir -p \"$ROUTER_ROOT/simstore\"")); }
    void start(const std::string& mode, const std::string& general = "")
    {
        ASSERT_EQ(0, access(sim_bin_path("modemsim").c_str(), X_OK)) << "modem simulator not built";
        this->mode = mode;
        box.uci_package("sms", "config command 'command'\n\toption enabled '1'\n"
                               "config general 'general'\n\toption debug '5'\n" + general);
        box.start(sim_bin_path("modemsim"),
                  {"--mode", mode, "--device", box.path("/dev_modem"), "--store", box.path("/simstore")});
        long long deadline = now_ms() + 10000;
        while (!box.exists("/dev_modem") && now_ms() < deadline)
            usleep(20000);
        ASSERT_TRUE(box.exists("/dev_modem"));
        start_daemon();
    }
    void start_daemon()
    {
        daemon = box.start(bin_path("brenlow"), {box.path("/dev_modem"), box.path("/var/run/brenlow.pid"), "x", "1",
                                                 mode == "cdma" ? "1" : "0"});
        ASSERT_GT(daemon, 0);
    }
    // Messages the phone got, by "number<TAB>text" line, with their count.
    std::map<std::string, int> received() const
    {
        std::map<std::string, int> got;
        std::istringstream in(box.read("/simstore/sent.log"));
        for (std::string line; std::getline(in, line);)
            ++got[line];
        return got;
    }
    bool wait_sent(const std::string& line, int timeout_ms) const
    {
        return box.wait_for_text("/simstore/sent.log", line + "\n", timeout_ms);
    }

    Sandbox box;
    std::string mode;
    pid_t daemon = -1;
};

} // namespace

// Three writers at once: one appends a line in two `>>` pieces 6 s apart,
// one holds the spool open, pauses mid-line and writes again 30 s later,
// one appends whole lines. No writer writes while another is mid-line, so
// every line is whole in what was written; the daemon takes the spool over
// whenever it likes.
TEST_F(BrenlowOutbox, RealWritersGetExactlyOneMessagePerLine)
{
    start("cdma");
    ASSERT_TRUE(box.wait_for_text(LOG, "recvmessage is done", 60000));
    ASSERT_EQ(0, box.shell(source_path("tests/sms/spool_writers.sh")));
    std::map<std::string, int> written = {
        {"13900000001\theld whole\\n", 1}, {"13900000002\theld in two\\n", 1}, {"13900000003\theld late\\n", 1},
        {"13900000004\ttwo appends\\n", 1}, {"13900000005\twhole 5\\n", 1},   {"13900000006\twhole 6\\n", 1},
        {"13900000007\twhole 7\\n", 1},    {"13900000008\twhole 8\\n", 1}};
    long long deadline = now_ms() + 240000;
    while (received().size() < written.size() && now_ms() < deadline)
        usleep(500000);
    ASSERT_TRUE(box.wait_for_text(LOG, "recvmessage is done", 60000));
    EXPECT_EQ(written, received()) << box.read(LOG);
}

// A refused message waits while the lines behind it go out; an outage with
// a restart of the daemon in it delays a message and loses nothing.
TEST_F(BrenlowOutbox, RefusedMessagesWaitOutAnOutageAndARestart)
{
    box.write("/simstore/.fail_next_send", "");
    box.write("/tmp/sms_tosend", "13900000001,first\n13900000002,second\n13900000003,third\n");
    start("cdma");
    ASSERT_TRUE(wait_sent("13900000001\tfirst\\n", 120000)) << box.read(LOG);
    EXPECT_EQ("13900000002\tsecond\\n\n13900000003\tthird\\n\n13900000001\tfirst\\n\n",
              box.read("/simstore/sent.log"));

    box.write("/simstore/.fail_sends", "");
    box.append("/tmp/sms_tosend", "13900000004,during the outage\n");
    ASSERT_TRUE(box.wait_for_text("/tmp/sms_retry", "13900000004,during the outage", 60000)) << box.read(LOG);
    box.stop(daemon, 9);
    box.wait_exit(daemon, 10000);
    start_daemon();
    ASSERT_TRUE(box.wait_for_text(LOG, "message to 13900000004 tried 2 times", 90000)) << box.read(LOG);
    remove(box.path("/simstore/.fail_sends").c_str());
    ASSERT_TRUE(wait_sent("13900000004\tduring the outage\\n", 120000)) << box.read(LOG);
    EXPECT_EQ(4u, received().size());
    EXPECT_FALSE(box.exists("/tmp/sms_failed"));
    EXPECT_EQ(std::string::npos, box.read(LOG).find("given up"));
}

TEST_F(BrenlowOutbox, MessageRefusedForTheWholeRetryTimeIsGivenUpWithTheAnswer)
{
    box.write("/simstore/.fail_sends", "");
    box.write("/tmp/sms_tosend", "13900000009,doomed\n");
    start("cdma", "\toption retrytime '40'\n");
    ASSERT_TRUE(box.wait_for_text("/tmp/sms_failed", "\t13900000009,doomed\n", 200000)) << box.read(LOG);
    std::string failed = box.read("/tmp/sms_failed");
    EXPECT_NE(std::string::npos, failed.find("\tnot sent within 40 s, last answer: ")) << failed;
    // Tried again after 30 s before the 40 s were over.
    EXPECT_NE(std::string::npos, box.read(LOG).find("message to 13900000009 tried 1 times, next try in 30 s"));
    EXPECT_NE(std::string::npos, box.read(LOG).find("send message given up after "));
    EXPECT_EQ("", box.read("/simstore/sent.log"));

    // The owner queues it again once the modem takes messages: it is not
    // taken for a repeat of the last message.
    remove(box.path("/simstore/.fail_sends").c_str());
    box.append("/tmp/sms_tosend", "13900000009,doomed\n");
    ASSERT_TRUE(wait_sent("13900000009\tdoomed\\n", 60000)) << box.read(LOG);
}

// Other programs share /tmp with a daemon that runs as root.
TEST_F(BrenlowOutbox, OddFilesAtTheSpoolPathsAreMovedAsideNeverRead)
{
    box.write("/secret", "13900009999,token=SECRET42\n");
    box.write("/victim", "precious\n");
    ASSERT_EQ(0, box.shell("cd \"$ROUTER_ROOT/tmp\" && mkfifo sms_tosend && mkdir sms_sending && : > sms_sending/x && "
                           "ln -s ../victim sms_sending.pos && mkdir sms_sending.pos.tmp"));
    start("cdma");
    ASSERT_TRUE(box.wait_for_text(LOG, "sms_sending is a directory, not a regular file: moved aside", 60000))
        << box.read(LOG);
    ASSERT_TRUE(box.wait_for_text(LOG, "sms_tosend is a fifo, not a regular file: moved aside", 30000));
    ASSERT_EQ(0, symlink("../secret", box.path("/tmp/sms_tosend").c_str()));
    ASSERT_TRUE(box.wait_for_text(LOG, "sms_tosend is a symlink, not a regular file: moved aside", 30000));
    ASSERT_EQ(0, link(box.path("/secret").c_str(), box.path("/tmp/sms_tosend").c_str()));
    ASSERT_TRUE(box.wait_for_text(LOG, "sms_tosend is a hardlink, not a regular file: moved aside", 30000));
    box.write("/tmp/sms_tosend", "13900000010,after them\n");
    ASSERT_TRUE(wait_sent("13900000010\tafter them\\n", 60000)) << box.read(LOG);
    EXPECT_EQ(1u, received().size());
    EXPECT_EQ("13900009999,token=SECRET42\n", box.read("/secret"));
    EXPECT_EQ("precious\n", box.read("/victim"));
    struct stat st;
    EXPECT_EQ(0, lstat(box.path("/tmp/sms_tosend.fifo").c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(0, lstat(box.path("/tmp/sms_sending.directory/x").c_str(), &st));
    EXPECT_EQ(0, lstat(box.path("/tmp/sms_tosend.symlink").c_str(), &st));
    EXPECT_EQ(0, lstat(box.path("/tmp/sms_sending.pos.tmp.directory").c_str(), &st));
}

// With the unicode option a spool line's whole text goes out, in parts.
TEST_F(BrenlowOutbox, WholeLongTextsReachThePhoneWithTheUnicodeOption)
{
    std::string ascii;
    for (int i = 0; ascii.size() < 300; ++i)
        ascii += std::to_string(i % 10);
    std::string chinese;
    for (int i = 0; i < 100; ++i)
        chinese += "中";
    box.write("/tmp/sms_tosend", "13900000011," + ascii + "\n13900000012," + chinese + "\n");
    start("gsm", "\toption unicode '1'\n");
    ASSERT_TRUE(box.wait_for_text("/etc/config/sms_record", "receiver: 13900000012", 300000)) << box.read(LOG);
    // The phone joins the parts of a number's message in the order they came.
    std::map<std::string, std::string> joined;
    std::istringstream in(box.read("/simstore/sent.log"));
    for (std::string line; std::getline(in, line);)
        joined[line.substr(0, line.find('\t'))] += line.substr(line.find('\t') + 1);
    EXPECT_EQ(ascii + "\\n", joined["13900000011"]);
    EXPECT_EQ(chinese + "\\n", joined["13900000012"]);
}
