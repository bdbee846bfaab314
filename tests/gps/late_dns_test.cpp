// quorral forwarding to a server given by name, in a network namespace whose
// name server (a stand-in on its loopback) knows the name only later, as at
// boot before the mobile link is up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "loopback_servers.h"
#include "pty_pair.h"
#include "sandbox.h"

namespace {

const char* const SERVER_NAME = "gps-server.test";
constexpr int PROTO_TCP = 0;
constexpr int PROTO_UDP = 1;

bool run(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }

class LateDns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root for a network namespace";
        ns_ = "qd" + std::to_string(getpid());
        // ip netns exec puts this file over /etc/resolv.conf for the daemon alone.
        etc_ = "/etc/netns/" + ns_;
        ASSERT_TRUE(run("ip netns add " + ns_) && run("ip -n " + ns_ + " link set lo up"))
            << "cannot make a network namespace as root";
        made_ = true;
        ASSERT_TRUE(run("mkdir -p " + etc_) && run("echo 'nameserver 127.0.0.1' > " + etc_ + "/resolv.conf"));
        sb.write("/dns_hosts", "");
    }
    void TearDown() override
    {
        stop_feeder();
        if (!made_)
            return;
        for (pid_t pid : {quorral_, dns_})
            if (pid > 0)
                sb.stop(pid);
        run("ip netns del " + ns_);
        run("rm -rf " + etc_);
    }

    // Runs fn in a thread that entered the namespace: sockets it makes and
    // programs it starts belong there.
    void in_namespace(const std::function<void()>& fn)
    {
        std::thread([&] {
            int fd = open(("/run/netns/" + ns_).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && setns(fd, CLONE_NEWNET) == 0)
                fn();
            else
                ADD_FAILURE() << "cannot enter " << ns_;
            if (fd >= 0)
                close(fd);
        }).join();
    }

    // The name server, silent for quiet_s seconds after its start.
    void start_dns(int quiet_s)
    {
        in_namespace([&] {
            dns_ = sb.start(sim_bin_path("dns_standin"),
                            {"127.0.0.1", sb.path("/dns_hosts"), "--quiet-for", std::to_string(quiet_s)});
        });
        ASSERT_TRUE(sb.wait_for_text("/dns_standin.stdout", "listening", 5000)) << sb.stderr_of("dns_standin");
    }

    void start_quorral(int proto, int port)
    {
        sb.uci_package("quorral", "config quorral 'general'\n\toption proto '" + std::to_string(proto) +
                                      "'\n\toption interval '1'\n\toption serverip '" + SERVER_NAME +
                                      "'\n\toption serverport '" + std::to_string(port) + "'\n\toption debug '4'\n");
        quorral_ = sb.start(command_output("command -v ip"),
                            {"netns", "exec", ns_, "env", sb.env_root(), sb.env_path(), bin_path("quorral"),
                             gps.slave_path, sb.path("/var/run/quorral.pid")});
        // A GPS that talks all the time, as a real one does.
        feeder_ = std::thread([this] {
            for (int n = 0; !stop_feeder_; ++n) {
                gps.write_all("$GPRMC,n" + std::to_string(n) + ",A*00\r\n");
                usleep(200000);
            }
        });
    }
    void stop_feeder()
    {
        stop_feeder_ = true;
        if (feeder_.joinable())
            feeder_.join();
    }

    void make_resolvable() { sb.write("/dns_hosts", std::string(SERVER_NAME) + " 127.0.0.1\n"); }

    // The server of the mode, on the namespace's loopback; its port.
    int start_server(int proto)
    {
        in_namespace([&] {
            if (proto == PROTO_UDP)
                udp_.reset(new UdpTestServer);
            else
                tcp_.reset(new TcpTestServer);
        });
        return udp_ ? udp_->port() : tcp_->port();
    }

    // Milliseconds until the server got its first data, measured from since;
    // -1 after timeout_ms. The GPS feeder stops then.
    long long wait_arrival(long long since, int timeout_ms)
    {
        long long ms = -1;
        while (ms < 0 && now_ms() - since <= timeout_ms) {
            if (udp_ ? !udp_->datagrams().empty() : !tcp_->received().empty())
                ms = now_ms() - since;
            else
                usleep(10000);
        }
        stop_feeder();
        return ms;
    }

    // The name server says "no such name" for a while, then knows the name.
    long long first_data_once_known(int proto)
    {
        int port = start_server(proto);
        start_dns(0);
        start_quorral(proto, port);
        EXPECT_TRUE(sb.wait_for_text("/dns_standin.stdout", "no such name " + std::string(SERVER_NAME), 15000));
        sleep(3); // several sends without an address
        long long known = now_ms();
        make_resolvable();
        return wait_arrival(known, 20000);
    }

    // The name server answers nothing for its first 10 s, as before the link is up.
    long long first_data_after_late_server(int proto)
    {
        int port = start_server(proto);
        make_resolvable();
        start_dns(10);
        long long answers_from = now_ms() + 10000;
        start_quorral(proto, port);
        return wait_arrival(answers_from, 40000);
    }

    Sandbox sb;
    PtyPair gps;
    std::string ns_, etc_;
    bool made_ = false;
    pid_t dns_ = -1, quorral_ = -1;
    std::thread feeder_;
    std::atomic<bool> stop_feeder_{false};
    std::unique_ptr<UdpTestServer> udp_;
    std::unique_ptr<TcpTestServer> tcp_;
};

// One case per mode and kind of late name server; prints the measure.
void expect_prompt_start(long long ms, const char* what)
{
    printf("[ measure  ] %s: first data %lld ms after the name became resolvable\n", what, ms);
    EXPECT_GE(ms, 0) << what << ": nothing arrived";
    EXPECT_LT(ms, 3500) << what;
}

// The GPS was read, one chunk a second, all the while the lookups failed.
void expect_read_throughout(const Sandbox& sb, int at_least)
{
    sb.wait_for_text("/tmp/gps.log", "chunks dropped before", 3000);
    const std::string log = sb.read("/tmp/gps.log");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, std::regex(R"(forwarding again, (\d+) chunks dropped before)"))) << log;
    EXPECT_GE(std::stoi(m[1]), at_least) << log;
}

} // namespace

TEST_F(LateDns, UdpStartsOnceAnUnknownNameIsKnown)
{
    expect_prompt_start(first_data_once_known(PROTO_UDP), "UDP, unknown name");
    // Tried once a second, and the failures said once.
    std::string log = sb.read("/tmp/gps.log");
    EXPECT_EQ(log.find("gethostbyname error"), log.rfind("gethostbyname error")) << log;
    EXPECT_NE(log.find("Info： gps-server.test resolved to 127.0.0.1 after "), std::string::npos) << log;
}

TEST_F(LateDns, TcpStartsOnceAnUnknownNameIsKnown)
{
    expect_prompt_start(first_data_once_known(PROTO_TCP), "TCP, unknown name");
}

TEST_F(LateDns, UdpStartsOnceANameServerTenSecondsLateAnswers)
{
    expect_prompt_start(first_data_after_late_server(PROTO_UDP), "UDP, name server 10 s late");
    expect_read_throughout(sb, 8);
}

TEST_F(LateDns, TcpStartsOnceANameServerTenSecondsLateAnswers)
{
    expect_prompt_start(first_data_after_late_server(PROTO_TCP), "TCP, name server 10 s late");
    expect_read_throughout(sb, 8);
}

TEST_F(LateDns, UdpFollowsAServerThatMovedOnceSendsFail)
{
    int port = start_server(PROTO_UDP);
    // An address this namespace has no route to: every send fails.
    sb.write("/dns_hosts", std::string(SERVER_NAME) + " 10.99.0.1\n");
    start_dns(0);
    start_quorral(PROTO_UDP, port);
    ASSERT_TRUE(sb.wait_for_text("/tmp/gps.log", "Error： send error code", 15000)) << sb.read("/tmp/gps.log");
    long long moved = now_ms();
    make_resolvable();
    expect_prompt_start(wait_arrival(moved, 20000), "UDP, server moved");
    EXPECT_NE(sb.read("/tmp/gps.log").find("Info： gps-server.test moved to 127.0.0.1"), std::string::npos);
}
