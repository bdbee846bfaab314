// pdutool and brenlow (unicode option on) are given the same PDUs: what the
// tool shows as the text must be what the daemon wrote to its journal, and
// the PDU the tool builds must be the one the daemon handed the modem.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "sandbox.h"

namespace {

const char* const RECORD = "/etc/config/sms_record";
const char* const BOSS = "13912345678";
const char* const STRANGER = "15500001111"; // not in the list: no replies to wait for

std::string quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// One line of pdutool's output, its label cut off; "" when there is none.
std::string field(const std::string& out, const std::string& label)
{
    std::string padded = label + std::string(17 - label.size(), ' ');
    size_t at = out.find("\n" + padded);
    if (at == std::string::npos)
        return "";
    at += 1 + padded.size();
    return out.substr(at, out.find('\n', at) - at);
}

// The text pdutool shows, without its quotes.
std::string shown_text(const std::string& out)
{
    std::string quoted = field(out, "text");
    return quoted.size() >= 2 ? quoted.substr(1, quoted.size() - 2) : "";
}

class PdutoolAgreesWithBrenlow : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        mode = GetParam();
        store = box.path("/simstore");
        ASSERT_EQ(0, box.shell("mkdir -p \"$ROUTER_ROOT/simstore\""));
        box.write("/var/run/phonenum", std::string("1,1,") + BOSS + "\n");
        box.uci_package("sms", "config command 'command'\n\toption enabled '1'\n"
                               "config general 'general'\n\toption debug '5'\n\toption unicode '1'\n");
    }

    // Stores a message made by the simulator's own encoder; returns its PDU.
    std::string inject(int index, const std::string& text, const std::string& extra = "")
    {
        int status = box.shell(quote(sim_bin_path("modemsim")) + " inject --mode " + mode + " --store " +
                               quote(store) + " --from " + STRANGER + " --index " + std::to_string(index) +
                               " --text " + quote(text) + " " + extra + " >/dev/null");
        EXPECT_EQ(0, status) << text;
        std::string pdu = box.read("/simstore/" + std::to_string(index));
        return pdu.substr(0, pdu.find('\n'));
    }

    std::string pdutool(const std::string& args) const
    {
        return command_output(quote(sim_bin_path("pdutool")) + " " + args + " 2>&1") + "\n";
    }

    void run_daemon()
    {
        std::string device = box.path("/dev_modem");
        box.start(sim_bin_path("modemsim"), {"--mode", mode, "--device", device, "--store", store, "--record",
                                             box.path("/modem.record")});
        long long deadline = now_ms() + 10000;
        while (access(device.c_str(), F_OK) != 0 && now_ms() < deadline)
            usleep(20000);
        ASSERT_EQ(0, access(device.c_str(), F_OK)) << "modem link did not appear";
        box.start(bin_path("brenlow"),
                  {device, box.path("/var/run/brenlow.pid"), "x", "1", mode == "cdma" ? "1" : "0"});
    }

    Sandbox box;
    std::string mode;
    std::string store;
};

TEST_P(PdutoolAgreesWithBrenlow, TextsAndPartHeadersReadAlike)
{
    const std::string decode = mode + "-decode ";
    std::string unicode = pdutool(decode + inject(0, "café é 中文 😀", "--ucs2"));
    std::string gsm_signs = pdutool(decode + inject(1, "user@example.com $5 a_b {x}"));
    std::string first = pdutool(decode + inject(2, "Grüße @home, ", "--concat 77/2/1"));
    std::string second = pdutool(decode + inject(3, "开会 €", "--concat 77/2/2 --ucs2"));
    EXPECT_EQ("café é 中文 😀", shown_text(unicode)) << unicode;
    // CDMA 7-bit text ends at a commercial-at sign, in the daemon as in the tool.
    EXPECT_EQ(mode == "gsm" ? "user@example.com $5 a_b {x}" : "user", shown_text(gsm_signs)) << gsm_signs;
    EXPECT_EQ("part 1 of 2, reference 77", field(first, "header")) << first;
    EXPECT_EQ("part 2 of 2, reference 77", field(second, "header")) << second;
    EXPECT_EQ("", field(unicode, "header"));

    run_daemon();
    std::string joined = shown_text(first) + shown_text(second);
    ASSERT_TRUE(box.wait_for_text(RECORD, "msg: " + joined + "\n", 30000)) << box.read("/tmp/modemlog.log");
    std::string record = box.read(RECORD);
    EXPECT_NE(std::string::npos, record.find("msg: " + shown_text(unicode) + "\n")) << record;
    EXPECT_NE(std::string::npos, record.find("msg: " + shown_text(gsm_signs) + "\n")) << record;
}

INSTANTIATE_TEST_SUITE_P(Modes, PdutoolAgreesWithBrenlow, ::testing::Values("gsm", "cdma"));

class PdutoolAgreesWithBrenlowGsm : public PdutoolAgreesWithBrenlow {};

TEST_P(PdutoolAgreesWithBrenlowGsm, EncodesTheSubmissionBrenlowMakes)
{
    // A spool text keeps its newline; the emoji needs a surrogate pair.
    const std::string text = "é中😀\n";
    box.write("/tmp/sms_tosend", std::string(BOSS) + "," + text);
    run_daemon();
    ASSERT_TRUE(box.wait_for_text(RECORD, "Sent SMS: receiver: " + std::string(BOSS), 60000))
        << box.read("/tmp/modemlog.log");
    std::string out = pdutool(std::string("gsm-encode ") + BOSS + " " + quote(text));
    std::string pdu = out.substr(0, out.find('\n'));
    EXPECT_NE(std::string::npos, pdu.find("D83DDE00")) << out;
    EXPECT_NE(std::string::npos, box.read("/modem.record").find("PDU " + pdu + "^Z")) << box.read("/modem.record");
}

INSTANTIATE_TEST_SUITE_P(Gsm, PdutoolAgreesWithBrenlowGsm, ::testing::Values("gsm"));

} // namespace
