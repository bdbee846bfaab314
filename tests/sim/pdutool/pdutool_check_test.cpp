// pdutool refuses what is not a whole PDU of the kind asked for, in one line and
// with status 2; well-formed PDUs, its own output among them, pass the checks.
#include <cstdio>
#include <string>
#include <vector>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "pdu_check.h"

namespace {

const char* DELIVER = "0891683108200505F0040B912143658709F10000213041516273000AE8329BFD4697D9EC37";
const char* CDMA = "000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101";

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun pdutool(const std::string& args)
{
    std::string err_file = testing::TempDir() + "pdutool.err";
    std::string command = std::string(BUILD_DIR) + "/sim/bin/pdutool " + args + " 2>" + err_file;
    ToolRun r;
    FILE* p = popen(command.c_str(), "r");
    char buf[512];
    size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int rc = p ? pclose(p) : -1;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    if (FILE* e = fopen(err_file.c_str(), "r")) {
        while ((n = fread(buf, 1, sizeof buf, e)) > 0)
            r.err.append(buf, n);
        fclose(e);
    }
    return r;
}

std::string why_gsm(const std::string& hex)
{
    char why[160] = {};
    return check_gsm_deliver(hex.c_str(), why, sizeof why) == 0 ? "" : why;
}

std::string why_cdma(const std::string& hex)
{
    char why[160] = {};
    return check_cdma_transport(hex.c_str(), why, sizeof why) == 0 ? "" : why;
}

TEST(PduCheck, WholeDeliverPassesAndEveryCutIsRefused)
{
    std::string pdu = DELIVER;
    EXPECT_EQ(why_gsm(pdu), "");
    EXPECT_EQ(why_gsm("00040B912143658709F10000213041516273000AE8329BFD4697D9EC37"), "");
    for (size_t cut = 2; cut < pdu.size(); cut += 2)
        EXPECT_NE(why_gsm(pdu.substr(0, cut)), "") << "cut at " << cut;
    EXPECT_NE(why_gsm(pdu + "00").find("after the end of the user data"), std::string::npos);
    EXPECT_NE(why_gsm(pdu.substr(0, pdu.size() - 1)).find("odd number"), std::string::npos);
    EXPECT_NE(why_gsm("zz").find("not hex"), std::string::npos);
    EXPECT_NE(why_gsm("").find("empty"), std::string::npos);
}

TEST(PduCheck, SubmitIsNotADeliver)
{
    EXPECT_NE(why_gsm("0011000D91683108108300F00000AA05E8329BFD06").find("SMS-SUBMIT"), std::string::npos);
}

TEST(PduCheck, CdmaTransportIsWalkedToItsLastOctet)
{
    std::string pdu = CDMA;
    EXPECT_EQ(why_cdma(pdu), "");
    for (size_t cut = 2; cut < pdu.size(); cut += 2)
        EXPECT_NE(why_cdma(pdu.substr(0, cut)), "") << "cut at " << cut;
    EXPECT_NE(why_cdma("09" + pdu.substr(2)).find("message type"), std::string::npos);
    EXPECT_NE(why_cdma(pdu + "1").find("odd number"), std::string::npos);
}

TEST(PduTool, RefusesBadInputInOneLineWithStatusTwo)
{
    std::string own = pdutool("gsm-encode +8613800138000 hello").out;
    own = own.substr(0, own.find('\n'));
    for (const std::string& args : std::vector<std::string>{"gsm-decode zz", "gsm-decode " + own, "gsm-decode 0891683108200505F004",
                                    "gsm-decode 0", "cdma-decode 00000210020", "cdma-decode xyz",
                                    "gsm-encode --ucs2 10086 x", "cdma-encode --octet 10086 x"}) {
        ToolRun r = pdutool(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        ASSERT_FALSE(r.err.empty()) << args;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << args << ": " << r.err;
    }
    EXPECT_NE(pdutool("gsm-decode " + own).err.find("SMS-SUBMIT"), std::string::npos);
}

TEST(PduTool, GoodInputStillDecodesAndHelpListsEveryCommand)
{
    ToolRun r = pdutool(std::string("gsm-decode ") + DELIVER);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"hellohello\""), std::string::npos);
    std::string lower = DELIVER;
    for (char& c : lower)
        c = static_cast<char>(tolower(c));
    EXPECT_NE(pdutool("gsm-decode " + lower).out.find("\"hellohello\""), std::string::npos);
    EXPECT_EQ(pdutool(std::string("cdma-decode ") + CDMA).status, 0);
    EXPECT_NE(pdutool(std::string("--plain gsm-decode ") + DELIVER).out.find("tp_ud            \"hellohello\""),
              std::string::npos);
    ToolRun help = pdutool("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"gsm-decode", "cdma-decode", "gsm-encode", "cdma-encode"})
        EXPECT_NE(help.out.find(std::string("pdutool ") + command + " "), std::string::npos) << command;
}

} // namespace
