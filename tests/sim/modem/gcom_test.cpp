#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

#include "modem_line.h"
#include "sandbox.h"

namespace {

class Gcom : public ::testing::Test {
protected:
    void start(const char* mode)
    {
        store_ = sb_.path("/modem");
        link_ = sb_.path("/dev/ttyUSB2");
        mkdir(store_.c_str(), 0755);
        mkdir(sb_.path("/dev").c_str(), 0755);
        sb_.start(sim_bin_path("modemsim"), {"--mode", mode, "--device", link_, "--store", store_});
        ASSERT_TRUE(wait_for_path(link_, 3000)) << sb_.stderr_of("modemsim");
    }
    // The daemon's call, run in the sandbox: gcom found through PATH, the
    // script by its router path.
    std::string read_slot(int index, const char* script)
    {
        std::string out_file = sb_.path("/gcom.out");
        std::string cmd = "SMS_INDEX=" + std::to_string(index) + " gcom -d " + link_ + " -s " + script + " > " +
                          out_file + " 2>&1";
        status_ = sb_.shell(cmd);
        return sb_.read("/gcom.out");
    }
    Sandbox sb_;
    std::string store_, link_;
    int status_ = -1;
};

TEST_F(Gcom, PrintsTheStoredGsmPduAsItsFirstLine)
{
    start("gsm");
    sb_.write("/modem/1", "0891683108200505F0040B912143658709F10000213041516273000AE8329BFD4697D9EC37\n");
    EXPECT_EQ(read_slot(1, "/etc/gcom/read_sms.gcom"),
              "0891683108200505F0040B912143658709F10000213041516273000AE8329BFD4697D9EC37\n");
    EXPECT_EQ(status_, 0);
}

TEST_F(Gcom, PrintsNothingForAnEmptySlotQuickly)
{
    start("gsm");
    long long t0 = now_ms();
    EXPECT_EQ(read_slot(0, "/etc/gcom/read_sms.gcom"), "");
    EXPECT_EQ(status_, 0);
    EXPECT_LT(now_ms() - t0, 1500);
    // The daemon's own exchanges still get clean answers afterwards.
    ModemLine line(link_);
    EXPECT_EQ(line.exchange("AT+CMGD=0\r", "OK\r\n"), "AT+CMGD=0\r\r\nOK\r\n");
}

TEST_F(Gcom, ReadsCdmaMessagesWithTheCdmaScript)
{
    start("cdma");
    std::string slot = "";
    FILE* p = popen((sim_bin_path("modemsim") + " inject --mode cdma --store " + store_ +
                     " --from 10086 --text Hi --time 12/03/14,15:26:37")
                        .c_str(),
                    "r");
    char buf[64] = "";
    ASSERT_NE(fgets(buf, sizeof buf, p), nullptr);
    pclose(p);
    EXPECT_STREQ(buf, "0\n");
    EXPECT_EQ(read_slot(0, "/etc/gcom/read_sms_cdma.gcom"),
              "000002100202040146aa1808130003100010010410148d200306120314152637\n");
    EXPECT_EQ(read_slot(1, "/etc/gcom/read_sms_cdma.gcom"), "");
}

TEST_F(Gcom, ReportsAScriptItCannotRun)
{
    start("gsm");
    sb_.write("/etc/gcom/bad.gcom", "opengt\n frobnicate 1\n");
    EXPECT_NE(read_slot(0, "/etc/gcom/bad.gcom").find("unknown statement"), std::string::npos);
    EXPECT_NE(status_, 0);
}

} // namespace
