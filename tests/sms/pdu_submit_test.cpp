// What a send reports, against the simulated modem: the PDU goes out only
// after the prompt, and each way a submission can end has its outcome.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "at_channel.h"
#include "brenlow_state.h"
#include "sandbox.h"
#include "serial.h"
#include "sms_manager.h"

namespace {

class PduSubmit : public ::testing::TestWithParam<const char*> {
protected:
    void start(const std::vector<std::string>& extra = {})
    {
        std::string mode = GetParam();
        cdma = mode == "cdma";
        store = box.path("/store");
        link = box.path("/modem");
        mkdir(store.c_str(), 0755);
        std::vector<std::string> args = {"--mode", mode, "--device", link, "--store", store, "--record",
                                         box.path("/record")};
        args.insert(args.end(), extra.begin(), extra.end());
        box.start(sim_bin_path("modemsim"), args);
        for (long long end = now_ms() + 5000; access(link.c_str(), F_OK) != 0 && now_ms() < end;)
            usleep(20000);
        fd = open_port(link.c_str());
        ASSERT_GE(fd, 0);
        setup_port(fd, 115200, 8, 'N', 1, 1);
        set_modem_fd(fd);
        brenlow.config = SmsConfig{};
        brenlow.config_loaded = true;
        brenlow.sms_mode = cdma ? SmsMode::Cdma : SmsMode::Gsm;
    }
    void TearDown() override
    {
        if (fd >= 0)
            close(fd);
    }
    SendReport send(long long* took_ms = nullptr)
    {
        long long t0 = now_ms();
        SendReport report = sms_send_report("13900000001", "hello");
        if (took_ms)
            *took_ms = now_ms() - t0;
        return report;
    }
    std::string submit() const { return std::string(GetParam()) == "cdma" ? "^HCMGS" : "+CMGS"; }

    Sandbox box;
    bool cdma = false;
    std::string store, link;
    int fd = -1;
};

} // namespace

TEST_P(PduSubmit, TakenPduIsSentAsSoonAsTheModemSaysSo)
{
    start();
    long long took = 0;
    SendReport report = send(&took);
    EXPECT_EQ(SendOutcome::Sent, report.outcome);
    EXPECT_STREQ(cdma ? "^HCMGSS: 1" : "OK", report.answer);
    EXPECT_EQ("13900000001\thello\n", box.read("/store/sent.log"));
    // The set-up's three or four exchanges and the submission, no fixed waits.
    EXPECT_LT(took, 4000);
}

TEST_P(PduSubmit, NoPromptCancelsAndTheStalledModemNeverGetsThePdu)
{
    start({"--stall-at", submit(), "--stall-for", "7000"});
    SendReport report = send();
    EXPECT_EQ(SendOutcome::NotSubmitted, report.outcome);
    EXPECT_STREQ(cdma ? "no prompt within 3 s" : "no prompt within 5 s", report.answer);
    // Once the modem comes to, it finds the cancel behind its prompt.
    ASSERT_TRUE(box.wait_for_text("/record", "^[", 15000)) << box.read("/record");
    usleep(500000);
    EXPECT_EQ("", box.read("/store/sent.log"));
    EXPECT_EQ(std::string::npos, box.read("/record").find("^Z"));
}

TEST_P(PduSubmit, RefusalsCarryTheModemsAnswer)
{
    start();
    box.write("/store/.fail_next_send", "");
    SendReport report = send();
    EXPECT_EQ(SendOutcome::Refused, report.outcome);
    EXPECT_STREQ(cdma ? "^HCMGSF: 500" : "+CMS ERROR: 500", report.answer);
    // Refused at the length command: the PDU is not written at all.
    box.write("/store/.answer_error", "");
    report = send();
    EXPECT_EQ(SendOutcome::Refused, report.outcome);
    EXPECT_STREQ("ERROR", report.answer);
    std::string record = box.read("/record");
    EXPECT_EQ(record.rfind("^Z"), record.find("^Z")) << record; // one PDU, the first send's
    EXPECT_EQ("", box.read("/store/sent.log"));
}

TEST_P(PduSubmit, NoVerdictAfterThePduIsUnconfirmed)
{
    // The network's answer comes long after the exchange's time-out.
    start({"--send-delay", "25000"});
    long long took = 0;
    SendReport report = send(&took);
    EXPECT_EQ(SendOutcome::Unconfirmed, report.outcome);
    EXPECT_STREQ(cdma ? "no verdict within 5 s" : "no verdict within 15 s", report.answer);
    EXPECT_GE(took, cdma ? 5000 : 15000);
    EXPECT_EQ("13900000001\thello\n", box.read("/store/sent.log"));
}

INSTANTIATE_TEST_SUITE_P(Modes, PduSubmit, ::testing::Values("gsm", "cdma"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
