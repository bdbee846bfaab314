// quorral at start when uci refuses its package.
#include <gtest/gtest.h>

#include <string>

#include "sandbox.h"

namespace {

const std::string GPS_LOG = "/tmp/gps.log";

// Starts quorral on a device that does not exist: it logs the device error
// after reading its settings, which shows the start is over.
std::string start_log(Sandbox& sb, const std::string& package)
{
    sb.uci_package("quorral", package);
    pid_t pid = sb.start(bin_path("quorral"), {"/dev/gps-absent", sb.path("/var/run/quorral.pid")});
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(sb.wait_for_text(GPS_LOG, "device error", 30000)) << sb.read(GPS_LOG);
    sb.stop(pid);
    return sb.read(GPS_LOG);
}

size_t count(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

TEST(QuorralStart, LogsOnceThatItsPackageIsRefused)
{
    Sandbox sb;
    std::string log = start_log(sb, "config quorral 'general'\n\toption proto '1'\n\tenabled 1\n");
    EXPECT_EQ(count(log, "Error： cannot read UCI package quorral, its options read as 0: "
                         "Parse error (invalid command) at line 3, byte 1\n"),
              1u)
        << log;
}

TEST(QuorralStart, SaysNothingOfAPackageThatReads)
{
    Sandbox sb;
    std::string log = start_log(sb, "config quorral 'general'\n\toption proto '1'\n\toption serverip ''\n");
    EXPECT_EQ(log.find("cannot read UCI package"), std::string::npos) << log;
}

} // namespace
