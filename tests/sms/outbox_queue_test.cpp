// The outbox against a scripted modem: what becomes of a spool line for each
// outcome of its send, and the files that carry the outbox across a kill.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "brenlow_state.h"
#include "fake_manager.h"
#include "retry_queue.h"
#include "scratch_root.h"
#include "sms_manager.h"
#include "sms_outbox.h"
#include "spool_batch.h"

namespace {

long long boot_now()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return ts.tv_sec;
}

class Outbox : public ScratchRootTest {
protected:
    void SetUp() override
    {
        ScratchRootTest::SetUp();
        mkdir((root_ + "/tmp").c_str(), 0755);
        mkdir((root_ + "/etc").c_str(), 0755);
        mkdir((root_ + "/etc/config").c_str(), 0755);
        restart();
        fake_outcomes.clear();
        fake_tried.clear();
    }
    // What a new process starts with: nothing but the files.
    void restart()
    {
        brenlow = BrenlowState();
        brenlow.config_loaded = true;
        brenlow.config.retrytime = 86400;
    }
    void write(const std::string& where, const std::string& text) { std::ofstream(root_ + where) << text; }
    std::string read(const std::string& where) { return slurp(root_ + where); }
    bool exists(const std::string& where) { return access((root_ + where).c_str(), F_OK) == 0; }
    // A queue entry as the outbox leaves it; due at once unless next is given.
    std::string entry(const std::string& line, long long first, long long next = 0, unsigned long long id = 0,
                      long long end = 0)
    {
        RetryEntry e = {};
        e.attempts = 5;
        e.first = first;
        e.next = next;
        e.newline = true;
        e.origin_id = id;
        e.origin_end = end;
        snprintf(e.line, sizeof e.line, "%s", line.c_str());
        char text[RETRY_ENTRY_SIZE];
        EXPECT_GT(format_retry_entry(e, text, sizeof text), 0);
        return text;
    }
};

} // namespace

TEST_F(Outbox, RefusedLineWaitsWithoutHoldingUpTheRestAndSurvivesARestart)
{
    write("/tmp/sms_tosend", "1,a\n2,b\n3,c\n");
    fake_outcomes = {SendOutcome::Refused};
    sendmessage();
    EXPECT_EQ((std::vector<std::string>{"1 a\n", "2 b\n", "3 c\n"}), fake_tried);
    EXPECT_FALSE(exists("/tmp/sms_sending"));
    RetryEntry queued;
    ASSERT_TRUE(parse_retry_entry(read("/tmp/sms_retry").c_str(), &queued));
    EXPECT_EQ(1, queued.attempts);
    EXPECT_EQ(30, queued.next - queued.first);
    EXPECT_STREQ("1,a\n", queued.line);
    EXPECT_STREQ("\\r\\n+CMS ERROR: 500\\r\\n", queued.answer);
    // Not due yet; then due, as a restarted daemon finds it.
    sendmessage();
    EXPECT_EQ(3u, fake_tried.size());
    write("/tmp/sms_retry", entry("1,a\n", boot_now()));
    restart();
    sendmessage();
    EXPECT_EQ("1 a\n", fake_tried.back());
    EXPECT_FALSE(exists("/tmp/sms_retry"));
}

TEST_F(Outbox, GivenUpAfterTheRetryTimeWithTheModemsLastAnswer)
{
    brenlow.config.retrytime = 2;
    write("/tmp/sms_retry", entry("5,x\n", boot_now() > 2 ? boot_now() - 2 : 0));
    fake_outcomes = {SendOutcome::Refused};
    sendmessage();
    std::string failed = read("/tmp/sms_failed");
    EXPECT_NE(std::string::npos,
              failed.find("\tnot sent within 2 s, last answer: \\r\\n+CMS ERROR: 500\\r\\n\t5,x\n"))
        << failed;
    EXPECT_FALSE(exists("/tmp/sms_retry"));
}

TEST_F(Outbox, UnconfirmedIsRecordedAndNeverSentAgain)
{
    write("/tmp/sms_tosend", "7,hello\n");
    fake_outcomes = {SendOutcome::Unconfirmed};
    sendmessage();
    sendmessage();
    EXPECT_EQ(1u, fake_tried.size());
    EXPECT_NE(std::string::npos, read("/tmp/sms_failed").find("\tunconfirmed: no final answer"));
    EXPECT_NE(std::string::npos, read("/etc/config/sms_record").find("msg: unconfirmed: hello\\n."));
    EXPECT_FALSE(exists("/tmp/sms_retry"));
}

TEST_F(Outbox, KillBeforeTheCursorMovedResendsNothingQueuedOrSent)
{
    // Killed after queuing the first line, before the cursor passed it.
    write("/tmp/sms_sending", "1,a\n2,b\n");
    struct stat st;
    ASSERT_EQ(0, stat((root_ + "/tmp/sms_sending").c_str(), &st));
    write("/tmp/sms_sending.pos", std::to_string(st.st_ino) + " 42 0 0 -\n");
    write("/tmp/sms_retry", entry("1,a\n", boot_now(), boot_now() + 30, 42, 4));
    sendmessage();
    EXPECT_EQ((std::vector<std::string>{"2 b\n"}), fake_tried);
    // The device going away mid-batch: the line keeps its place.
    write("/tmp/sms_tosend", "3,c\n4,d\n");
    fake_outcomes = {SendOutcome::Sent, SendOutcome::NotSubmitted};
    sendmessage();
    EXPECT_EQ("4 d\n", fake_tried.back());
    BatchCursor cur;
    load_cursor((root_ + "/tmp/sms_sending.pos").c_str(), &cur);
    EXPECT_EQ(4, cur.offset);
    brenlow.modem_lost = false;
    sendmessage();
    EXPECT_EQ("4 d\n", fake_tried.back());
    EXPECT_EQ(4u, fake_tried.size());
}

TEST_F(Outbox, LineStartLeftInTheBatchJoinsItsRestInTheNextSpool)
{
    write("/tmp/sms_tosend", "1,a\n2,he");
    sendmessage();
    EXPECT_EQ(1u, fake_tried.size());
    EXPECT_TRUE(exists("/tmp/sms_sending"));
    write("/tmp/sms_tosend", "llo\n3,c\n");
    sendmessage();
    EXPECT_EQ((std::vector<std::string>{"1 a\n", "2 hello\n", "3 c\n"}), fake_tried);
    EXPECT_FALSE(exists("/tmp/sms_sending"));
    // A writer gone mid-line: its line goes out as it stands after a minute.
    write("/tmp/sms_tosend", "4,cut sho");
    sendmessage();
    EXPECT_EQ(3u, fake_tried.size());
    brenlow.outbox.batch_changed_at -= 60;
    sendmessage();
    EXPECT_EQ("4 cut sho", fake_tried.back());
    EXPECT_FALSE(exists("/tmp/sms_sending"));
}
