// The committed NMEA sample, checked against gpsd (through gpsfake) and used
// to cross-check the RMC extraction on every epoch.
#include "nmea_chunk.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "loopback_servers.h"

namespace {

std::string read_file(const std::string& path)
{
    std::string text;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        fclose(f);
    }
    return text;
}

std::string sample_path() { return std::string(SOURCE_DIR) + "/sim/nmea/sample.nmea"; }

// The sample cut where the feeder cuts it: one chunk per "$GPGGA" epoch.
std::vector<std::string> epochs(const std::string& text)
{
    std::vector<std::string> out;
    for (size_t at = 0; at < text.size();) {
        size_t next = text.find("$GPGGA", at + 1);
        out.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next == std::string::npos ? text.size() : next;
    }
    return out;
}

std::vector<std::string> rmc_lines(const std::string& text)
{
    std::vector<std::string> out;
    for (size_t at = 0; (at = text.find("$GPRMC,", at)) != std::string::npos;) {
        size_t end = text.find('\n', at);
        out.push_back(text.substr(at, end - at + 1));
        at = end;
    }
    return out;
}

bool on_path(const char* program)
{
    return system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

TEST(NmeaSample, EveryEpochGivesItsOwnRmcSentenceWhole)
{
    std::string sample = read_file(sample_path());
    std::vector<std::string> expected = rmc_lines(sample);
    ASSERT_EQ(expected.size(), 20u);
    std::vector<std::string> chunks = epochs(sample);
    ASSERT_EQ(chunks.size(), 20u);
    for (size_t i = 0; i < chunks.size(); ++i) {
        char dst[GPS_BUFFER_SIZE];
        int n = extract_gprmc(chunks[i].data(), chunks[i].size(), dst, sizeof dst);
        EXPECT_EQ(std::string(dst, static_cast<size_t>(n)), expected[i]) << "epoch " << i;
    }
}

// gpsd replays the log from a pseudo-terminal and hands back every sentence it
// accepted (checksum and framing), plus the fixes it computed from them.
TEST(NmeaSample, GpsdAcceptsEverySentenceOfTheSample)
{
    if (!on_path("gpsfake") || !(on_path("gpsd") || access("/usr/sbin/gpsd", X_OK) == 0))
        GTEST_SKIP() << "gpsfake or gpsd not installed (Debian packages gpsd-clients, gpsd)";
    // gpsfake leaves its control socket in TMPDIR: give it a folder of its own.
    char templ[] = "/tmp/gpsfake.XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string tmpdir = templ;
    std::string cmd = "TMPDIR=" + tmpdir + " PATH=$PATH:/usr/sbin timeout 120 gpsfake -1 -p -q -c 0.01 -P " +
                      std::to_string(unused_tcp_port()) + " '" + sample_path() + "' 2>/dev/null";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    system(("rm -rf " + tmpdir).c_str());
    std::string sample = read_file(sample_path());
    EXPECT_EQ(rmc_lines(out), rmc_lines(sample));
    EXPECT_NE(out.find("\"class\":\"TPV\""), std::string::npos);
    EXPECT_NE(out.find("\"mode\":3"), std::string::npos);
    EXPECT_NE(out.find("\"lat\":48.1173"), std::string::npos);
}
