// quorral run as a program: GPS on a pseudo-terminal, servers on loopback.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
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
    // Log lines keep the unit name they print today, wherever their code moves.
    EXPECT_TRUE(std::regex_search(sb.read(GPS_LOG), std::regex(R"(\[quorral\.cpp \d+\] Info： 0,127\.0\.0\.1,)"))
                && std::regex_search(sb.read(GPS_LOG), std::regex(R"(\[TcpClient\.cpp \d+\] Debug： server connected)")))
        << sb.read(GPS_LOG);
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
    // While the server is away chunks start attempts (one a second at most) that are refused.
    long long refused_deadline = now_ms() + 15000;
    while (log_count("Connect failure, index=0") == 0 && now_ms() < refused_deadline) {
        gps.write_all("$GPGGA,two*00\r\n");
        usleep(300000);
    }
    ASSERT_GE(log_count("Connect failure, index=0"), 1u);
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
    long long deadline = now_ms() + 8000;
    while (log_count("gethostbyname error") < 2 && now_ms() < deadline) {
        gps.write_all(GGA);
        usleep(300000);
    }
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

// Running on would forward nothing for ever; the start ends, naming the option.
TEST_F(Quorral, UnsupportedProtocolIsRefusedByName)
{
    GpsOptions options;
    options.proto = 7;
    pid_t pid = start(options);
    EXPECT_EQ(sb.wait_exit(pid, 10000), 78);
    EXPECT_TRUE(log_has("Error： option quorral.general.proto '7' is not range(0,2), not started"));
    EXPECT_FALSE(sb.exists("/var/run/quorral.pid"));
}

namespace {

// A GPS receiver that keeps talking: writes a block every period without
// blocking, and records the longest stretch in which the line took nothing
// (the forwarder not reading).
class GpsFeeder {
public:
    GpsFeeder(const PtyPair& gps, size_t block, int period_ms) : fd_(gps.master)
    {
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
        std::string text;
        for (int i = 0; text.size() < block; ++i)
            text += "$GPRMC,feed" + std::to_string(i) + ",A*00\r\n";
        text.resize(block);
        thread_ = std::thread([this, text, period_ms] {
            long long last_taken = now_ms();
            while (!stop_) {
                ssize_t n = write(fd_, text.data(), text.size());
                long long now = now_ms();
                if (n > 0) {
                    taken_ += static_cast<int32_t>(n);
                    last_taken = now;
                }
                if (now - last_taken > longest_refusal_ms_)
                    longest_refusal_ms_ = static_cast<int32_t>(now - last_taken);
                usleep(static_cast<useconds_t>(period_ms) * 1000);
            }
        });
    }
    ~GpsFeeder() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    void reset_refusal() { longest_refusal_ms_ = 0; }
    long long longest_refusal_ms() const { return longest_refusal_ms_; }
    long long taken() const { return taken_; }

private:
    int fd_;
    std::atomic<bool> stop_{false};
    // 32-bit on purpose: the router's MIPS has no lock-free 64-bit atomics.
    std::atomic<int32_t> taken_{0};
    std::atomic<int32_t> longest_refusal_ms_{0};
    std::thread thread_;
};

// quorral's CPU budget against a resetting server; the sanitizer lanes run
// an instrumented binary several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double CPU_LIMIT_PERCENT = 25.0;
#else
constexpr double CPU_LIMIT_PERCENT = 5.0;
#endif

// CPU time (user + system, in clock ticks) a process has used so far.
long long cpu_ticks(pid_t pid)
{
    std::string stat = command_output("cut -d')' -f2 /proc/" + std::to_string(pid) + "/stat");
    long long utime = 0, stime = 0;
    // After the name: state and 10 more fields, then utime and stime.
    sscanf(stat.c_str(), " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &utime, &stime);
    return utime + stime;
}

} // namespace

TEST_F(Quorral, ServerThatNeverReadsIsDroppedAndTheGpsIsReadThroughout)
{
    MisbehavingTcpServer server(MisbehavingTcpServer::Mode::Stall);
    GpsOptions options;
    options.port = server.port();
    options.interval = 0;
    pid_t pid = start(options);
    ASSERT_TRUE(log_has("server connected"));
    GpsFeeder feeder(gps, 8192, 5);
    ASSERT_TRUE(log_has("Error： send buffer full for 1000 ms", 60000));
    feeder.reset_refusal();
    // Lazily reconnected (the server accepts again), and the count of what was lost is logged.
    ASSERT_TRUE(log_has("chunks dropped before", 30000));
    EXPECT_GE(server.accepted(), 2u);
    // Waiting for the reconnection took a few seconds: through all of it the GPS was read.
    EXPECT_LT(feeder.longest_refusal_ms(), 3000);
    EXPECT_EQ(sb.wait_exit(pid, 10), -1);
    printf("stalled server: longest stretch without a GPS read %lld ms\n", feeder.longest_refusal_ms());
}

TEST_F(Quorral, ServerThatResetsEveryConnectionIsTriedOnceASecondAtLowCpu)
{
    MisbehavingTcpServer server(MisbehavingTcpServer::Mode::Reset);
    GpsOptions options;
    options.port = server.port();
    options.interval = 0;
    pid_t pid = start(options);
    GpsFeeder feeder(gps, 200, 20);
    ASSERT_TRUE(log_has("recv error code", 30000));
    size_t accepted0 = server.accepted();
    long long ticks0 = cpu_ticks(pid);
    long long t0 = now_ms();
    // A measuring window: the quantity is CPU time, which a loaded machine
    // does not inflate (wall clock would be).
    while (now_ms() - t0 < 5000)
        usleep(100000);
    long long elapsed_ms = now_ms() - t0;
    long long ticks = cpu_ticks(pid) - ticks0;
    size_t attempts = server.accepted() - accepted0;
    double cpu_percent = 100.0 * ticks / sysconf(_SC_CLK_TCK) / (elapsed_ms / 1000.0);
    printf("resetting server: %zu connections in %lld ms, quorral CPU %.2f %%\n", attempts, elapsed_ms, cpu_percent);
    EXPECT_LE(attempts, static_cast<size_t>(elapsed_ms / 1000 + 1));
    EXPECT_GE(attempts, 1u);
    EXPECT_LT(cpu_percent, CPU_LIMIT_PERCENT);
    EXPECT_EQ(sb.wait_exit(pid, 10), -1);
}

namespace {

// A server at the far end of a veth pair, in a network namespace of its own,
// whose side of the link can be taken down (a silent black hole for us) and
// brought back.
class FarServer {
public:
    explicit FarServer(Sandbox& sb) : sb_(sb)
    {
        int n = getpid() % 200 + 20;
        ns_ = "qvbh" + std::to_string(getpid());
        near_ = "qvh" + std::to_string(getpid());
        far_ = "qvn" + std::to_string(getpid());
        near_ip_ = "10.213." + std::to_string(n) + ".1";
        ip_ = "10.213." + std::to_string(n) + ".2";
        ok_ = run("ip netns add " + ns_) && run("ip link add " + near_ + " type veth peer name " + far_) &&
              run("ip link set " + far_ + " netns " + ns_) && run("ip addr add " + near_ip_ + "/30 dev " + near_) &&
              run("ip link set " + near_ + " up") &&
              run("ip netns exec " + ns_ + " ip addr add " + ip_ + "/30 dev " + far_) &&
              run("ip netns exec " + ns_ + " ip link set " + far_ + " up") &&
              run("ip netns exec " + ns_ + " ip link set lo up");
        if (!ok_)
            return;
        // A fixed neighbour entry, as for a server behind a router: lookups
        // failing on the link would report "no route" instead of silence.
        std::string mac = command_output("ip netns exec " + ns_ + " cat /sys/class/net/" + far_ + "/address");
        ok_ = run("ip neigh replace " + ip_ + " lladdr " + mac + " dev " + near_ + " nud permanent");
        if (!ok_)
            return;
        // ip netns exec runs socat in its own place: the pid is socat's.
        server_pid_ = sb_.start(command_output("command -v ip"),
                                {"netns", "exec", ns_, "socat", "-u",
                                 "TCP-LISTEN:7000,bind=" + ip_ + ",reuseaddr,fork",
                                 "OPEN:" + sb_.path("/received") + ",creat,append"});
    }
    ~FarServer()
    {
        if (server_pid_ > 0)
            sb_.stop(server_pid_);
        // socat forks a child per connection, which outlives its parent
        // while the link is down: end whatever still runs in the namespace.
        run("ip netns pids " + ns_ + " | xargs -r kill -KILL");
        run("ip link del " + near_);
        run("ip netns del " + ns_);
    }
    bool ok() const { return ok_; }
    const std::string& ip() const { return ip_; }
    bool set_link(bool up) { return run("ip netns exec " + ns_ + " ip link set " + far_ + (up ? " up" : " down")); }
    std::string received() const { return sb_.read("/received"); }

private:
    static bool run(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }
    Sandbox& sb_;
    std::string ns_, near_, far_, near_ip_, ip_;
    bool ok_ = false;
    pid_t server_pid_ = -1;
};

} // namespace

TEST_F(Quorral, BlackholedPathIsReconnectedWithinSecondsOfItsReturn)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a network namespace and a veth pair";
    FarServer server(sb);
    if (!server.ok())
        FAIL() << "cannot make a network namespace with a veth pair as root";
    GpsOptions options;
    options.server = server.ip();
    options.port = 7000;
    options.interval = 1;
    pid_t pid = start(options);
    // Numbered chunks, one every 200 ms.
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            gps.write_all("$GPRMC,n" + std::to_string(next++) + ",A*00\r\n");
            usleep(200000);
        }
    });
    auto arrived_after = [&](int number) {
        std::string got = server.received();
        size_t at = got.rfind("$GPRMC,n");
        return at != std::string::npos && atoi(got.c_str() + at + 8) > number;
    };
    long long deadline = now_ms() + 20000;
    while (!arrived_after(0) && now_ms() < deadline)
        usleep(50000);
    ASSERT_TRUE(arrived_after(0)) << "nothing forwarded before the black hole";

    ASSERT_TRUE(server.set_link(false));
    // Unacknowledged data ends the connection; the next attempts find no answer and time out.
    EXPECT_TRUE(log_has("Error： connect timed out after 5 s, index=0", 40000));
    int at_return = next.load();
    ASSERT_TRUE(server.set_link(true));
    long long back = now_ms();
    deadline = back + 20000;
    while (!arrived_after(at_return) && now_ms() < deadline)
        usleep(50000);
    long long resumed_ms = now_ms() - back;
    stop = true;
    writer.join();
    printf("black hole: forwarding resumed %lld ms after the path came back\n", resumed_ms);
    EXPECT_TRUE(arrived_after(at_return));
    EXPECT_LT(resumed_ms, 10000);
    EXPECT_EQ(sb.wait_exit(pid, 10), -1);
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

// A USB receiver and a USB serial destination re-enumerating: each port
// vanishes for two seconds and comes back under its name; forwarding resumes
// without a restart of the daemon.
TEST_F(Quorral, PortsThatVanishAndComeBackAreReopenedByName)
{
    ASSERT_EQ(mkdir(sb.path("/dev").c_str(), 0755), 0);
    ReplugPort gps_port(sb.path("/dev/ttyUSB0"));
    ReplugPort board(sb.path("/dev/ttyS0"));
    GpsOptions options;
    options.proto = 2;
    options.serial_lines = "\toption baudrate '9600'\n\toption parity 'N'\n\toption databits '8'\n"
                           "\toption stopbits '1'\n";
    pid_t pid = start(options, gps_port.name());
    ASSERT_TRUE(log_has("Info： done"));
    // Sentences every 200 ms until one written from now on reaches the board.
    auto forwarded_within = [&](const std::string& tag, int timeout_ms) {
        long long since = now_ms();
        std::string got;
        for (int n = 0; now_ms() - since < timeout_ms; ++n) {
            std::string sentence = "$GPRMC," + tag + std::to_string(n) + ",A*00\r\n";
            gps_port.pty().write_all(sentence);
            got += board.pty().read_master(1, 200);
            if (got.find("$GPRMC," + tag) != std::string::npos)
                return now_ms() - since;
        }
        return -1LL;
    };
    ASSERT_GE(forwarded_within("before", 10000), 0);
    int outages = 0;
    for (ReplugPort* port : {&gps_port, &board}) {
        const char* role = port == &gps_port ? "GPS port" : "serial port";
        port->vanish();
        ++outages;
        long long gone = now_ms();
        // The serial destination shows it lost at the next chunk written to it.
        while (port == &board && !log_has(role, 0) && now_ms() - gone < 3000) {
            gps_port.pty().write_all(GGA);
            usleep(200000);
        }
        ASSERT_TRUE(log_has(std::string("Error： ") + role + " " + port->name() + " lost", 3000));
        sleep(2);
        ASSERT_TRUE(port->come_back());
        long long resumed_ms = forwarded_within(std::string("after") + std::to_string(outages), 10000);
        printf("[ measure  ] %s back: forwarding resumed %lld ms after its return\n", role, resumed_ms);
        EXPECT_GE(resumed_ms, 0) << role;
        EXPECT_LT(resumed_ms, 2500) << role;
    }
    EXPECT_EQ(log_count(" lost ("), static_cast<size_t>(outages)) << sb.read(GPS_LOG);
    EXPECT_EQ(log_count(" back after "), static_cast<size_t>(outages)) << sb.read(GPS_LOG);
    EXPECT_EQ(sb.calls().find("quorral restart"), std::string::npos);
    EXPECT_EQ(sb.wait_exit(pid, 10), -1);
}
