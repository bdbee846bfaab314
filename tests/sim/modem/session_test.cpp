#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "modem_session.h"
#include "store.h"

namespace {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/modemsession.XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
        opt_.store = dir_;
        opt_.sent_file = dir_ + "/sent.log";
    }
    void TearDown() override { system(("rm -rf " + dir_).c_str()); }
    std::string sent() const
    {
        std::ifstream in(opt_.sent_file);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir_;
    ModemOptions opt_;
};

TEST_F(SessionTest, EchoesUntilAte0AndAnswersUnknownCommandsWithError)
{
    ModemSession s(opt_);
    EXPECT_EQ(s.feed("AT\r", 3), "AT\r\r\nOK\r\n");
    EXPECT_EQ(s.feed("ATE0\r", 5), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(s.feed("AT+CMGF=0\r", 10), "\r\nOK\r\n");
    EXPECT_EQ(s.feed("AT$QCMGF=0\r", 11), "\r\nERROR\r\n"); // a GSM modem lacks the CDMA commands
    // Noise before AT and a command split over two writes.
    EXPECT_EQ(s.feed("\nxxAT+CS", 8), "");
    EXPECT_FALSE(s.idle());
    EXPECT_EQ(s.feed("Q\r", 2), "\r\n+CSQ: 20,99\r\n\r\nOK\r\n");
    EXPECT_TRUE(s.idle());
}

TEST_F(SessionTest, WritesNewlinesOfASentTextAsBackslashN)
{
    ModemSession s(opt_);
    s.feed("ATE0\r", 5);
    // "a\nb" in GSM 7-bit to 10086.
    std::string pdu = "00110005810180F60000AA03618518\x1A";
    EXPECT_EQ(s.feed("AT+CMGS=14\r", 11), "\r\n> ");
    EXPECT_EQ(s.feed(pdu.data(), pdu.size()), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(sent(), "10086\ta\\nb\n");
    EXPECT_EQ(escape_sent_text("x\r\ny"), "x\\r\\ny");
}

TEST_F(SessionTest, EscapeCancelsAMessageAndBadLengthsGetNoPrompt)
{
    ModemSession s(opt_);
    s.feed("ATE0\r", 5);
    EXPECT_EQ(s.feed("AT+CMGS=0\r", 10), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(s.feed("AT+CMGS=165\r", 12), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(s.feed("AT+CMGS=13\r", 11), "\r\n> ");
    EXPECT_EQ(s.feed("0011\x1B", 5), "\r\nOK\r\n");
    EXPECT_EQ(s.feed("AT\r", 3), "\r\nOK\r\n");
    EXPECT_EQ(sent(), "");
}

TEST_F(SessionTest, ReportsStatusReadAfterTheFirstReadAndDeletesByFlag)
{
    ModemSession s(opt_);
    s.feed("ATE0\r", 5);
    ASSERT_TRUE(store_write(dir_, 1, "000405810180F600002130415162730002C834"));
    ASSERT_TRUE(store_write(dir_, 2, "000405810180F600002130415162730002C834"));
    EXPECT_EQ(s.feed("AT+CMGR=1\r", 10), "\r\n+CMGR: 0,,18\r\n000405810180F600002130415162730002C834\r\n\r\nOK\r\n");
    EXPECT_NE(s.feed("AT+CMGR=1\r", 10).find("+CMGR: 1,,18"), std::string::npos);
    EXPECT_EQ(s.feed("AT+CMGR=x\r", 10), "\r\nERROR\r\n");
    EXPECT_EQ(s.feed("AT+CMGD=0,1\r", 12), "\r\nOK\r\n"); // read messages only
    EXPECT_EQ(store_count(dir_), 1);
    EXPECT_EQ(s.feed("AT+CMGD=0,4\r", 12), "\r\nOK\r\n");
    EXPECT_EQ(store_count(dir_), 0);
}

TEST_F(SessionTest, CdmaFailureMarkerIsConsumedOnce)
{
    opt_.mode = ModemMode::Cdma;
    ModemSession s(opt_);
    s.feed("ATE0\r", 5);
    std::string pdu = "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101\x1A";
    fclose(fopen((dir_ + "/.fail_next_send").c_str(), "w"));
    EXPECT_EQ(s.feed("AT^HCMGS=44\r", 12), "\r\n> ");
    EXPECT_EQ(s.feed(pdu.data(), pdu.size()), "\r\n^HCMGSF: 500\r\n");
    EXPECT_NE(access((dir_ + "/.fail_next_send").c_str(), F_OK), 0);
    EXPECT_EQ(sent(), "");
    s.feed("AT^HCMGS=44\r", 12);
    EXPECT_EQ(s.feed(pdu.data(), pdu.size()), "\r\n^HCMGS: 1\r\n\r\nOK\r\n\r\n^HCMGSS: 1\r\n");
    EXPECT_EQ(sent(), "10086\tHi\n");
}

TEST_F(SessionTest, RecordsEveryLineAndPduAsReceived)
{
    opt_.record_file = dir_ + "/record.log";
    ModemSession s(opt_);
    s.feed("ATE0\r", 5);
    std::string pdu = "00110005810180F60000AA03618518\x1A";
    s.feed("AT+CMGS=14\r", 11);
    s.feed(pdu.data(), pdu.size());
    s.feed("\x1B junk\x01" "AT\r", 10);
    std::ifstream in(opt_.record_file);
    std::ostringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), "ATE0\nAT+CMGS=14\nPDU 00110005810180F60000AA03618518^Z\n^[\n junk\\x01AT\n");
}

TEST_F(SessionTest, VanishesAtTheChosenCommandAndComesBackFresh)
{
    opt_.vanish_at = "+CMGS";
    opt_.vanish_nth = 2;
    ModemSession s(opt_);
    s.feed("ATE0\r", 5);
    EXPECT_EQ(s.feed("AT+CMGS=14\r", 11), "\r\n> ");
    EXPECT_FALSE(s.take_vanish());
    s.feed("\x1B", 1);
    EXPECT_EQ(s.feed("AT+CMGS=14\rAT\r", 14), "");
    EXPECT_TRUE(s.take_vanish());
    EXPECT_FALSE(s.take_vanish());
    s.power_on();
    EXPECT_EQ(s.feed("AT\r", 3), "AT\r\r\nOK\r\n");
}

TEST_F(SessionTest, StallsAtTheChosenCommandThenCarriesOutWhatWasWritten)
{
    opt_.stall_at = "+CMGS";
    ModemSession s(opt_);
    s.feed("ATE0\r", 5);
    std::string pdu = "00110005810180F60000AA03618518\x1A";
    // The stalled command and what follows it in the same write wait.
    std::string first = "AT+CMGS=14\r" + pdu;
    EXPECT_EQ(s.feed(first.data(), first.size()), "");
    EXPECT_TRUE(s.take_stall());
    EXPECT_TRUE(s.stalled());
    std::string again = "AT+CMGS=14\r" + pdu + "AT+CMGS=14\r\x1B";
    s.hold(again.data(), again.size());
    EXPECT_EQ(sent(), "");
    // Every submission written to the stalled modem goes out; the cancelled one does not.
    EXPECT_EQ(s.resume(), "\r\n> \r\n+CMGS: 1\r\n\r\nOK\r\n\r\n> \r\n+CMGS: 2\r\n\r\nOK\r\n\r\n> \r\nOK\r\n");
    EXPECT_EQ(sent(), "10086\ta\\nb\n10086\ta\\nb\n");
    EXPECT_FALSE(s.stalled());
    EXPECT_FALSE(s.take_stall());
    EXPECT_EQ(s.feed("AT+CMGS=14\r", 11), "\r\n> "); // the stall came once
}

TEST_F(SessionTest, StorageQueryCountsTheStoredMessages)
{
    store_write(dir_, 3, "00");
    store_write(dir_, 9, "00");
    ModemSession gsm(opt_);
    gsm.feed("ATE0\r", 5);
    EXPECT_EQ(gsm.feed("AT+CPMS?\r", 9), "\r\n+CPMS: \"SM\",2,256,\"SM\",2,256,\"SM\",2,256\r\n\r\nOK\r\n");
    opt_.mode = ModemMode::Cdma;
    ModemSession cdma(opt_);
    cdma.feed("ATE0\r", 5);
    EXPECT_EQ(cdma.feed("AT$QCPMS?\r", 10), "\r\n$QCPMS: \"SM\",2,256,\"SM\",2,256,\"SM\",2,256\r\n\r\nOK\r\n");
}

TEST_F(SessionTest, BrokenModemAnswersErrorAndFailsEverySubmission)
{
    opt_.mode = ModemMode::Cdma;
    ModemSession s(opt_);
    s.feed("ATE0\r", 5);
    fclose(fopen((dir_ + "/.answer_error").c_str(), "w"));
    EXPECT_EQ(s.feed("AT$QCMGF=0\r", 11), "\r\nERROR\r\n");
    EXPECT_EQ(s.feed("AT^HCMGS=44\r", 12), "\r\nERROR\r\n");
    unlink((dir_ + "/.answer_error").c_str());
    fclose(fopen((dir_ + "/.fail_sends").c_str(), "w"));
    std::string pdu = "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101\x1A";
    for (int i = 0; i < 2; ++i) {
        s.feed("AT^HCMGS=44\r", 12);
        EXPECT_EQ(s.feed(pdu.data(), pdu.size()), "\r\n^HCMGSF: 500\r\n");
    }
    EXPECT_EQ(sent(), "");
}

} // namespace
