// quorral run as a program: GPS on a pseudo-terminal, servers on loopback.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "loopback_servers.h"
#include "pty_pair.h"
#include "sandbox.h"

namespace {

const std::string GGA = "$GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*69\r\n";
const std::string RMC = "$GPRMC,123519.00,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W*44\r\n";
const std::string VTG = "$GPVTG,084.4,T,087.5,M,022.4,N,041.5,K,A*25\r\n";
const std::string GPS_LOG = "/tmp/gps.log";

struct GpsOptions {
    int proto = 0;
    std::string server = "127.0.0.1";
    int port = 0;
    int sendsn = 0;
    int onlyrmc = 0;
    int interval = 1;
    std::string serial_lines; // extra options for the serial output
};

std::string quorral_package(const GpsOptions& o)
{
    char text[1024];
    snprintf(text, sizeof text,
             "config quorral 'general'\n"
             "\toption enabled '1'\n"
             "\toption proto '%d'\n"
             "\toption sendsn '%d'\n"
             "\toption onlyrmc '%d'\n"
             "\toption interval '%d'\n"
             "\toption serverip '%s'\n"
             "\toption serverport '%d'\n"
             "\toption debug '5'\n"
             "%s",
             o.proto, o.sendsn, o.onlyrmc, o.interval, o.server.c_str(), o.port, o.serial_lines.c_str());
    return text;
}

class Quorral : public ::testing::Test {
protected:
    pid_t start(const GpsOptions& options, const std::string& device = "")
    {
        sb.uci_package("quorral", quorral_package(options));
        sb.uci_package("system", "config version 'version'\n\toption sn 'RT0042SN'\n");
        return sb.start(bin_path("quorral"),
                        {device.empty() ? gps.slave_path : device, sb.path("/var/run/quorral.pid")});
    }
    // Generous: sanitizer builds on a loaded machine start slowly; a hit returns at once.
    bool log_has(const std::string& text, int timeout_ms = 30000) const
    {
        return sb.wait_for_text(GPS_LOG, text, timeout_ms);
    }
    size_t log_count(const std::string& text) const
    {
        std::string log = sb.read(GPS_LOG);
        size_t count = 0;
        for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at += text.size())
            ++count;
        return count;
    }

    Sandbox sb;
    PtyPair gps;
};

} // namespace

TEST_F(Quorral, TcpGetsTheSerialNumberThenTheWholeChunk)
{
    TcpTestServer server;
    GpsOptions options;
    options.port = server.port();
    options.sendsn = 1;
    pid_t pid = start(options);
    ASSERT_TRUE(server.wait_for_connections(1, 8000));
    ASSERT_TRUE(log_has("server connected"));
    std::string chunk = GGA + RMC + VTG;
    ASSERT_TRUE(gps.write_all(chunk));
    ASSERT_TRUE(server.wait_for(VTG, 8000));
    EXPECT_EQ(server.received_on(0), "RT0042SN" + chunk);
    EXPECT_EQ(sb.read("/var/run/quorral.pid"), std::to_string(pid) + "\n");
    EXPECT_TRUE(log_has("Info： 0,127.0.0.1," + std::to_string(server.port())));
}

TEST_F(Quorral, OnlyRmcForwardsExactlyTheRmcSentencesOfAReplayedLog)
{
    // The sample log replayed by our pseudo-terminal GPS receiver, three epochs a second.
    std::string link = sb.path("/gps0");
    sb.start(sim_bin_path("nmea_feeder"), {link, source_path("sim/nmea/sample.nmea"), "300"});
    ASSERT_TRUE(sb.wait_for_text("/nmea_feeder.stdout", "0 ", 5000));
    TcpTestServer server;
    GpsOptions options;
    options.port = server.port();
    options.onlyrmc = 1;
    start(options, link);
    ASSERT_TRUE(server.wait_for_connections(1, 8000));
    std::string sample;
    FILE* f = fopen(source_path("sim/nmea/sample.nmea").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[8192];
    sample.assign(buf, fread(buf, 1, sizeof buf, f));
    fclose(f);

    long long deadline = now_ms() + 15000;
    std::vector<std::string> sentences;
    while (sentences.size() < 3 && now_ms() < deadline) {
        usleep(200000);
        std::string got = server.received();
        sentences.clear();
        for (size_t at = 0; (at = got.find('$', at)) != std::string::npos;) {
            size_t next = got.find('$', at + 1);
            sentences.push_back(got.substr(at, next == std::string::npos ? std::string::npos : next - at));
            at = next;
        }
        ASSERT_EQ(got.find('$'), got.empty() ? std::string::npos : 0u);
    }
    ASSERT_GE(sentences.size(), 3u);
    for (const std::string& s : sentences) {
        EXPECT_EQ(s.compare(0, 7, "$GPRMC,"), 0) << s;
        EXPECT_EQ(s.substr(s.size() - 2), "\r\n") << s;
        EXPECT_NE(sample.find(s), std::string::npos) << s;
    }
}

TEST_F(Quorral, ZeroBytesInAChunkAreForwardedAndReported)
{
    TcpTestServer server;
    GpsOptions options;
    options.port = server.port();
    start(options);
    ASSERT_TRUE(log_has("server connected"));
    std::string chunk = GGA + std::string("\0\0", 2) + RMC;
    ASSERT_TRUE(gps.write_all(chunk));
    ASSERT_TRUE(server.wait_for(RMC, 8000));
    EXPECT_EQ(server.received(), chunk);
    EXPECT_TRUE(log_has("quorral error, strlen(buff)=" + std::to_string(GGA.size()) +
                        ". len=" + std::to_string(chunk.size())));
}

TEST_F(Quorral, FirstChunkWhileConnectingIsDroppedAndLaterChunksArrive)
{
    // A full accept queue keeps the connect pending until we accept.
    TcpTestServer server(0, 0, false);
    std::vector<int> fillers = fill_accept_queue(server.port());
    GpsOptions options;
    options.port = server.port();
    start(options);
    ASSERT_TRUE(log_has("try to re-connecting"));
    ASSERT_TRUE(gps.write_all("$GPGGA,first*00\r\n"));
    ASSERT_TRUE(log_has("Info： server is connecting"));
    server.start_accepting();
    ASSERT_TRUE(log_has("server connected", 15000));
    ASSERT_TRUE(gps.write_all("$GPGGA,second*00\r\n"));
    ASSERT_TRUE(server.wait_for("$GPGGA,second*00\r\n", 8000));
    EXPECT_EQ(server.received().find("first"), std::string::npos);
    for (int fd : fillers)
        close(fd);
}

TEST_F(Quorral, ServerRestartIsFollowedByReconnectionAndLaterChunks)
{
    int port;
    GpsOptions options;
    {
        TcpTestServer first;
        port = first.port();
        options.port = port;
        start(options);
        ASSERT_TRUE(first.wait_for_connections(1, 8000));
        ASSERT_TRUE(log_has("server connected"));
        ASSERT_TRUE(gps.write_all("$GPGGA,one*00\r\n"));
        ASSERT_TRUE(first.wait_for("one", 8000));
    }
    ASSERT_TRUE(log_has("connection terminated"));
    // While the server is away each chunk starts an attempt that is refused.
    ASSERT_TRUE(gps.write_all("$GPGGA,two*00\r\n"));
    ASSERT_TRUE(log_has("Connect failure, index=0"));
    TcpTestServer second(port);
    long long deadline = now_ms() + 15000;
    int n = 3;
    while (second.received().find("$GPGGA,") == std::string::npos && now_ms() < deadline) {
        gps.write_all("$GPGGA,chunk" + std::to_string(n++) + "*00\r\n");
        usleep(1200000);
    }
    EXPECT_NE(second.received().find("$GPGGA,chunk"), std::string::npos);
    EXPECT_EQ(second.received().find("two"), std::string::npos);
}

TEST_F(Quorral, UnresolvableHostIsRetriedPerChunkAndNothingReachesThisMachine)
{
    TcpTestServer local_service;
    GpsOptions options;
    options.server = "quorral-test.invalid";
    options.port = local_service.port();
    start(options);
    ASSERT_TRUE(log_has("Error： gethostbyname error: quorral-test.invalid"));
    ASSERT_TRUE(gps.write_all(GGA));
    ASSERT_TRUE(sb.wait_for_text(GPS_LOG, "try to re-connecting", 8000));
    long long deadline = now_ms() + 8000;
    while (log_count("gethostbyname error") < 2 && now_ms() < deadline)
        usleep(50000);
    EXPECT_GE(log_count("gethostbyname error"), 2u);
    EXPECT_EQ(local_service.connections(), 0u);
}

TEST_F(Quorral, NoDataRestartsThroughTheInitScriptAndExits)
{
    TcpTestServer server;
    GpsOptions options;
    options.port = server.port();
    options.interval = 0; // the time-out is then the next second of the clock
    pid_t pid = start(options);
    EXPECT_EQ(sb.wait_exit(pid, 10000), 0);
    EXPECT_NE(sb.calls().find("/etc/init.d/quorral restart"), std::string::npos);
    EXPECT_TRUE(log_has("Error： quorral failed, restart it", 100));
}

TEST_F(Quorral, DeviceThatCannotBeOpenedRequestsARestartAndExitsMinusTwo)
{
    GpsOptions options;
    pid_t pid = start(options, sb.path("/dev/no-gps"));
    EXPECT_EQ(sb.wait_exit(pid, 15000), 254);
    EXPECT_NE(sb.calls().find("/etc/init.d/quorral restart"), std::string::npos);
    EXPECT_TRUE(log_has("device error " + sb.path("/dev/no-gps"), 100));
    EXPECT_TRUE(sb.wait_for_text("/tmp/myLog1.log", "Info： quorral starting..", 100));
}

TEST_F(Quorral, UdpSendsTheSerialNumberAndTheRmcAsDatagrams)
{
    UdpTestServer server;
    GpsOptions options;
    options.proto = 1;
    options.port = server.port();
    options.sendsn = 1;
    options.onlyrmc = 1;
    start(options);
    ASSERT_TRUE(log_has("socket created"));
    // The first chunk goes out once the receive thread runs; repeat until two arrive.
    long long deadline = now_ms() + 10000;
    while (server.datagrams().size() < 2 && now_ms() < deadline) {
        gps.write_all(GGA + RMC + VTG);
        usleep(1100000);
    }
    std::vector<std::string> got = server.datagrams();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], "RT0042SN");
    EXPECT_EQ(got[1], RMC);
}

TEST_F(Quorral, SerialDestinationGetsTheChunk)
{
    PtyPair board;
    ASSERT_EQ(mkdir(sb.path("/dev").c_str(), 0755), 0);
    ASSERT_EQ(symlink(board.slave_path.c_str(), sb.path("/dev/ttyS0").c_str()), 0);
    GpsOptions options;
    options.proto = 2;
    options.serial_lines = "\toption baudrate '9600'\n\toption parity 'N'\n\toption databits '8'\n"
                           "\toption stopbits '1'\n";
    start(options);
    ASSERT_TRUE(log_has("Info： done"));
    std::string chunk = GGA + RMC;
    ASSERT_TRUE(gps.write_all(chunk));
    EXPECT_EQ(board.read_master(chunk.size(), 8000), chunk);
    EXPECT_TRUE(log_has("write msg len=" + std::to_string(chunk.size()) + " succeed"));
}

TEST_F(Quorral, SerialDestinationWithEmptyParityEndsTheProcess)
{
    PtyPair board;
    ASSERT_EQ(mkdir(sb.path("/dev").c_str(), 0755), 0);
    ASSERT_EQ(symlink(board.slave_path.c_str(), sb.path("/dev/ttyS0").c_str()), 0);
    GpsOptions options;
    options.proto = 2;
    options.serial_lines = "\toption baudrate '9600'\n\toption databits '8'\n\toption stopbits '1'\n";
    pid_t pid = start(options);
    EXPECT_EQ(sb.wait_exit(pid, 10000), 0);
    EXPECT_NE(sb.stderr_of("quorral").find("Unsupported parity\n"), std::string::npos);
    EXPECT_NE(sb.stdout_of("quorral").find("Set serial port Error"), std::string::npos);
}

TEST_F(Quorral, UnsupportedProtocolForwardsNothingAndKeepsRunning)
{
    GpsOptions options;
    options.proto = 7;
    pid_t pid = start(options);
    ASSERT_TRUE(log_has("Info： not supported protocol 7"));
    ASSERT_TRUE(log_has("Info： done"));
    ASSERT_TRUE(gps.write_all(GGA));
    EXPECT_TRUE(log_has("Error： not supported protocol 7"));
    EXPECT_EQ(sb.wait_exit(pid, 200), -1);
}

// Measure: time from the GPS line to the TCP server, reads paced by interval 0.
TEST_F(Quorral, ForwardingLatencyFromTheGpsLineToTheServer)
{
    TcpTestServer server;
    GpsOptions options;
    options.port = server.port();
    options.interval = 0;
    start(options);
    // A steady stream from the start: with interval 0 a silent second ends
    // the process. It goes on for 60 chunks once the connection is up.
    const int limit = 1000;
    std::vector<long long> written;
    int remaining = 60;
    for (int i = 0; i < limit && remaining > 0; ++i) {
        char chunk[40];
        snprintf(chunk, sizeof chunk, "$GPRMC,latency%03d*00\r\n", i);
        written.push_back(monotonic_ns());
        gps.write_all(chunk);
        usleep(25000);
        if (remaining < 60 || server.connections() > 0)
            --remaining;
    }
    const int count = static_cast<int>(written.size());
    usleep(200000);
    std::string all = server.received();
    std::vector<std::pair<long long, size_t>> arrivals = server.arrivals();
    std::vector<long long> latencies;
    for (int i = 0; i < count; ++i) {
        char chunk[40];
        snprintf(chunk, sizeof chunk, "$GPRMC,latency%03d*00\r\n", i);
        size_t at = all.find(chunk);
        if (at == std::string::npos)
            continue; // before the port was set up, or while connecting
        size_t end = at + strlen(chunk);
        size_t offset = 0;
        for (const auto& arrival : arrivals) {
            offset += arrival.second;
            if (offset >= end) {
                latencies.push_back(arrival.first - written[i]);
                break;
            }
        }
    }
    ASSERT_GE(latencies.size(), 40u);
    std::sort(latencies.begin(), latencies.end());
    long long median = latencies[latencies.size() / 2];
    long long worst = latencies.back();
    printf("quorral chunk latency GPS pty -> TCP server: median %.2f ms, max %.2f ms over %zu chunks\n",
           median / 1e6, worst / 1e6, latencies.size());
    RecordProperty("latency_median_us", static_cast<int>(median / 1000));
    EXPECT_LT(median, 1000000000LL);
}
