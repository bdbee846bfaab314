// The inspection tool prints what the codecs make of a PDU and builds sendable PDUs.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string run(const std::string& args, int* status = nullptr)
{
    std::string command = std::string(BUILD_DIR) + "/sim/bin/pdutool " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buf[512];
    size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = p ? pclose(p) : -1;
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

} // namespace

TEST(PduTool, DecodesGsmDeliver)
{
    std::string out = run("gsm-decode 0891683108200505F0040B912143658709F10000213041516273000AE8329BFD4697D9EC37");
    EXPECT_NE(out.find("sca              8613800250500\n"), std::string::npos) << out;
    EXPECT_NE(out.find("tpa              12345678901\n"), std::string::npos);
    EXPECT_NE(out.find("text             \"hellohello\"\n"), std::string::npos);
}

TEST(PduTool, EncodesBothModesWithTheirCommandLengths)
{
    EXPECT_EQ(run("gsm-encode +8613800138000 hello"), "0011000D91683108108300F00000AA05E8329BFD06\nAT+CMGS=20\n");
    EXPECT_EQ(run("cdma-encode 10086 Hi"),
              "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101\n"
              "AT^HCMGS=44\n");
}

TEST(PduTool, CdmaRoundTripAndRefusal)
{
    std::string pdu = run("cdma-encode 13800138000 hello");
    std::string out = run("cdma-decode " + pdu.substr(0, pdu.find('\n')));
    EXPECT_NE(out.find("tpa              13800138000\n"), std::string::npos) << out;
    EXPECT_NE(out.find("text             \"hello\"\n"), std::string::npos);
    int status = 0;
    run("cdma-encode +10086 x", &status);
    EXPECT_EQ(status, 1);
    run("bogus", &status);
    EXPECT_EQ(status, 2);
}
