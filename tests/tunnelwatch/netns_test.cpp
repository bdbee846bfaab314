// The real watchdog between two hosts made of network namespaces joined by a
// veth pair. Each test makes its own namespaces (named tw<pid>... or
// tz<pid>...) and deletes them at its end, even when it fails.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "keepalive.h"
#include "sandbox.h"
#include "watchdog.h"

namespace {

std::string ip_tool()
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(p, X_OK) == 0)
            return p;
    return "";
}

// Runs a shell command; returns its exit status and, in out, what it printed.
int run(const std::string& cmd, std::string* out = nullptr)
{
    std::string text;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
        text += buf;
    int status = pclose(p);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double wall_seconds()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec + tv.tv_usec / 1e6;
}

// The user-mode emulator running this test, "" on real hardware. The cross
// script names it; otherwise a MIPS build that sees a CPU without a MIPS
// "cpu model" line is emulated: qemu-user reports the emulated machine in
// uname and /proc/self/exe, but passes the host's /proc/cpuinfo through.
std::string emulator()
{
    const char* named = getenv("ROUTER_TEST_EMULATOR");
    if (named && named[0])
        return named;
#if defined(__mips__)
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.compare(0, 9, "cpu model") == 0)
            return "";
    return "a user-mode emulator (/proc/cpuinfo shows the host's CPU)";
#else
    return "";
#endif
}

// Why live capture cannot work here, "" when it can. Only asked under
// emulation: on real hardware a capture that fails must fail the tests.
std::string capture_missing_under_emulation()
{
    std::string emu = emulator();
    if (emu.empty())
        return "";
    char err[PCAP_ERRBUF_SIZE] = "";
    std::string why;
    pcap_t* handle = pcap_create("lo", err);
    if (!handle) {
        why = err;
    } else {
        if (pcap_activate(handle) < 0)
            why = pcap_geterr(handle);
        pcap_close(handle);
    }
    if (why.empty())
        return "";
    return "no live capture under " + emu
         + ": qemu-user passes neither the SIOCETHTOOL ioctl nor SOL_PACKET socket options (PACKET_HDRLEN, "
           "PACKET_RX_RING) to the kernel, and libpcap cannot open any device without them (libpcap: "
         + why + ")";
}

// Two hosts: A (x.1) and B (x.2), one veth between them.
class HostPair {
public:
    explicit HostPair(const std::string& prefix = "tw")
    {
        static int serial = 0;
        ++serial;
        std::string base = prefix + std::to_string(getpid());
        a = base + "a" + std::to_string(serial);
        b = base + "b" + std::to_string(serial);
        dev_a = a + "v";
        dev_b = b + "v";
        net = "10.201." + std::to_string(serial % 250) + ".";
        addr_a = net + "1";
        addr_b = net + "2";
    }
    ~HostPair()
    {
        if (made_a)
            run(ip_tool() + " netns del " + a);
        if (made_b)
            run(ip_tool() + " netns del " + b);
    }
    // Why the hosts cannot be made on this machine at all, "" when they can:
    // only these reasons skip a test.
    static std::string unavailable()
    {
        if (geteuid() != 0)
            return "needs root for network namespaces";
        static const std::string no_capture = capture_missing_under_emulation();
        return no_capture;
    }
    // "" when both hosts are up, else what failed.
    std::string make()
    {
        std::string ip = ip_tool();
        if (ip.empty())
            return "no ip tool (iproute2)";
        std::string out;
        if (run(ip + " netns add " + a, &out) != 0)
            return "cannot make a network namespace: " + out;
        made_a = true;
        if (run(ip + " netns add " + b, &out) != 0)
            return "cannot make a network namespace: " + out;
        made_b = true;
        return link();
    }
    // The veth pair with its addresses; "" when done.
    std::string link()
    {
        std::string ip = ip_tool();
        std::string out;
        if (run(ip + " link add " + dev_a + " netns " + a + " type veth peer name " + dev_b + " netns " + b, &out)
            != 0)
            return "cannot make a veth pair: " + out;
        if (in(a, "addr add " + addr_a + "/24 dev " + dev_a) != 0 || in(b, "addr add " + addr_b + "/24 dev " + dev_b) != 0
            || in(a, "link set " + dev_a + " up") != 0 || in(b, "link set " + dev_b + " up") != 0
            || in(a, "link set lo up") != 0 || in(b, "link set lo up") != 0)
            return "cannot configure the veth pair";
        return "";
    }
    // Deletes the veth pair (both ends go), as when a modem reconnect removes a device.
    int unlink() const { return in(a, "link del " + dev_a); }
    // An ip command inside one host.
    int in(const std::string& host, const std::string& args, std::string* out = nullptr) const
    {
        return run(ip_tool() + " -n " + host + " " + args, out);
    }

    std::string a, b, dev_a, dev_b, net, addr_a, addr_b;

private:
    bool made_a = false;
    bool made_b = false;
};

// Skips without root (or live capture); as root a set-up that fails fails the test.
#define MAKE_HOSTS(pair)                                  \
    do {                                                  \
        std::string skip = HostPair::unavailable();       \
        if (!skip.empty())                                \
            GTEST_SKIP() << skip;                         \
        std::string why = (pair).make();                  \
        if (!why.empty())                                 \
            FAIL() << "cannot make the hosts: " << why;   \
    } while (0)

// Starts tolvane inside a host, through the sandbox (which keeps the reboot
// check); wrapper words, if any, run first and exec the rest.
pid_t start_in(Sandbox& sb, const std::string& host, const std::vector<std::string>& args,
               const std::vector<std::string>& wrapper = {})
{
    std::vector<std::string> full = {"netns", "exec", host};
    full.insert(full.end(), wrapper.begin(), wrapper.end());
    for (const std::string& w : {std::string("env"), sb.env_root(), sb.env_path(), bin_path("tolvane")})
        full.push_back(w);
    full.insert(full.end(), args.begin(), args.end());
    return sb.start(ip_tool(), full);
}

// Command words of the receiver on B and of the sender on A, plus any extra words.
std::vector<std::string> receiver_words(const HostPair& h, const std::string& timeout,
                                        const std::vector<std::string>& extra = {})
{
    std::vector<std::string> w = {"remote", h.addr_a, "local", h.addr_b, "dev", h.dev_b, "gname", "greB",
                                  "mode", "receive", "timeout", timeout};
    w.insert(w.end(), extra.begin(), extra.end());
    return w;
}

std::vector<std::string> sender_words(const HostPair& h, const std::string& seconds, const std::string& retry,
                                      const std::vector<std::string>& extra = {})
{
    std::vector<std::string> w = {"remote", h.addr_b, "local", h.addr_a, "dev", h.dev_a, "gname", "greA",
                                  "mode", "send", "seconds", seconds, "retry", retry};
    w.insert(w.end(), extra.begin(), extra.end());
    return w;
}

std::string log_of(const Sandbox& sb) { return sb.stderr_of("ip"); }

struct ScriptCall {
    double when;
    std::string word;
};

// The up/down script calls recorded by the skellan stand-in.
std::vector<ScriptCall> script_calls(const Sandbox& sb)
{
    std::vector<ScriptCall> calls;
    std::istringstream in(sb.calls());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        ScriptCall c;
        std::string path, gname;
        if (words >> c.when >> path >> gname >> c.word && path == "/usr/sbin/skellan")
            calls.push_back(c);
    }
    return calls;
}

std::string words_of(const std::vector<ScriptCall>& calls)
{
    std::string text;
    for (const ScriptCall& c : calls)
        text += (text.empty() ? "" : " ") + c.word;
    return text;
}

// Waits for the n-th script call (1-based); returns it, or a call with word "" on timeout.
ScriptCall wait_for_call(const Sandbox& sb, size_t n, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    do {
        std::vector<ScriptCall> calls = script_calls(sb);
        if (calls.size() >= n)
            return calls[n - 1];
        usleep(50000);
    } while (now_ms() < deadline);
    return ScriptCall{0, ""};
}

// procd stops with SIGTERM, a console with SIGINT: both end the watch cleanly.
void expect_clean_stop(Sandbox& sb, pid_t pid, int timeout_ms, int signal_number = SIGINT)
{
    ASSERT_GT(pid, 0);
    kill(pid, signal_number);
    EXPECT_EQ(sb.wait_exit(pid, timeout_ms), 0) << log_of(sb);
    EXPECT_NE(log_of(sb).find("(notice) tolvane program exited."), std::string::npos) << log_of(sb);
    EXPECT_EQ(log_of(sb).find("Sanitizer"), std::string::npos) << log_of(sb);
}

// How often needle occurs in text.
size_t count_of(const std::string& text, const std::string& needle)
{
    size_t found = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++found;
    return found;
}

// Waits until the log holds needle at least n times; false on timeout.
bool wait_for_count(const Sandbox& sb, const std::string& needle, size_t n, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    do {
        if (count_of(log_of(sb), needle) >= n)
            return true;
        usleep(50000);
    } while (now_ms() < deadline);
    return false;
}

const char* const REPLY_APPROVED = "(process_reply) reply approved";

TEST(TunnelNetns, SenderAndReceiverFollowTheLinkDownAndUp)
{
    HostPair hosts;
    MAKE_HOSTS(hosts);
    Sandbox side_a;
    Sandbox side_b;
    side_a.write("/tmp/keepalive_running", "77 otherdev\n5 " + hosts.dev_a + "\n");

    pid_t receiver = start_in(side_b, hosts.b, receiver_words(hosts, "3"));
    ASSERT_TRUE(side_b.wait_for_text("/ip.stderr", "handle_timeout(3)", 10000)) << log_of(side_b);
    pid_t sender = start_in(side_a, hosts.a, sender_words(hosts, "1", "3", {"debug", "1"}));

    // Answered keepalives, a second apart and past the receiver's 3 s
    // timeout: both sides stay up, no script runs.
    ASSERT_TRUE(wait_for_count(side_a, REPLY_APPROVED, 6, 20000)) << log_of(side_a);
    EXPECT_EQ(side_a.calls(), "") << log_of(side_a);
    EXPECT_EQ(side_b.calls(), "") << log_of(side_b);

    const double cut = wall_seconds();
    ASSERT_EQ(hosts.in(hosts.b, "link set " + hosts.dev_b + " down"), 0);
    ScriptCall down_a = wait_for_call(side_a, 1, 20000);
    ScriptCall down_b = wait_for_call(side_b, 1, 20000);
    ASSERT_EQ(down_a.word, "down") << log_of(side_a);
    ASSERT_EQ(down_b.word, "down") << log_of(side_b);
    const double detection = down_a.when - cut;
    printf("[ measure  ] link cut to sender down script: %.2f s (seconds 1, retry 3)\n", detection);
    printf("[ measure  ] link cut to receiver down script: %.2f s (timeout 3)\n", down_b.when - cut);
    RecordProperty("sender_detection_ms", static_cast<int>(detection * 1000));
    // Three unanswered keepalives a second apart and the last pause, from somewhere in a cycle.
    EXPECT_GE(detection, 2.0);
    EXPECT_LE(detection, 9.0);
    EXPECT_LE(down_b.when - cut, 9.0);

    const double restore = wall_seconds();
    ASSERT_EQ(hosts.in(hosts.b, "link set " + hosts.dev_b + " up"), 0);
    ScriptCall up_a = wait_for_call(side_a, 2, 15000);
    ScriptCall up_b = wait_for_call(side_b, 2, 15000);
    ASSERT_EQ(up_a.word, "up") << log_of(side_a);
    ASSERT_EQ(up_b.word, "up") << log_of(side_b);
    printf("[ measure  ] link restore to sender up script: %.2f s\n", up_a.when - restore);
    EXPECT_LE(up_a.when - restore, 6.0);
    EXPECT_EQ(log_of(side_a).find("remote is unreachable"), log_of(side_a).rfind("remote is unreachable"))
        << "only one down step while the link was cut" << log_of(side_a) << side_a.calls();

    // A drop of the answers alone: the keepalives still go out and reach B.
    // It starts from answered keepalives again.
    ASSERT_TRUE(wait_for_count(side_a, REPLY_APPROVED, count_of(log_of(side_a), REPLY_APPROVED) + 2, 10000))
        << log_of(side_a);
    const double drop = wall_seconds();
    ASSERT_EQ(hosts.in(hosts.b, "route add blackhole " + hosts.addr_a + "/32"), 0);
    ScriptCall dropped = wait_for_call(side_a, 3, 20000);
    ASSERT_EQ(dropped.word, "down") << log_of(side_a);
    printf("[ measure  ] answers dropped to sender down script: %.2f s (seconds 1, retry 3)\n", dropped.when - drop);
    EXPECT_GE(dropped.when - drop, 2.0);
    EXPECT_LE(dropped.when - drop, 9.0);
    ASSERT_EQ(hosts.in(hosts.b, "route del blackhole " + hosts.addr_a + "/32"), 0);
    EXPECT_EQ(wait_for_call(side_a, 4, 15000).word, "up") << log_of(side_a);

    // Receiver: down at the cut and up again; its stop may still judge one more period.
    EXPECT_EQ(words_of(script_calls(side_b)).substr(0, 7), "down up");
    side_b.write("/tmp/keepalive_running", "9 " + hosts.dev_b + "\n78 otherdev\n");
    expect_clean_stop(side_a, sender, 10000);
    expect_clean_stop(side_b, receiver, 10000, SIGTERM);
    EXPECT_EQ(side_a.read("/tmp/keepalive_running"), "77 otherdev\n");
    EXPECT_EQ(side_b.read("/tmp/keepalive_running"), "78 otherdev\n");
}

// The sender's own end goes down, so its keepalives fail to go out at all.
// The answer to the last keepalive before the cut, seen after that keepalive's
// count check, must not buy a second cycle of retries.
TEST(TunnelNetns, OwnLinkCutIsDeclaredDownAfterOneCycle)
{
    HostPair hosts("tz");
    MAKE_HOSTS(hosts);
    Sandbox side_a;
    Sandbox side_b;
    pid_t receiver = start_in(side_b, hosts.b, receiver_words(hosts, "3", {"debug", "1"}));
    ASSERT_TRUE(side_b.wait_for_text("/ip.stderr", "handle_timeout(3)", 10000)) << log_of(side_b);
    pid_t sender = start_in(side_a, hosts.a, sender_words(hosts, "2", "3"));
    // Cut just after the third keepalive was answered, well before the fourth.
    ASSERT_TRUE(wait_for_count(side_b, "(process_request) peer packet approved", 3, 15000)) << log_of(side_b);

    const double cut = wall_seconds();
    ASSERT_EQ(hosts.in(hosts.a, "link set " + hosts.dev_a + " down"), 0);
    ScriptCall down_a = wait_for_call(side_a, 1, 25000);
    ScriptCall down_b = wait_for_call(side_b, 1, 25000);
    ASSERT_EQ(down_a.word, "down") << log_of(side_a);
    ASSERT_EQ(down_b.word, "down") << log_of(side_b);
    printf("[ measure  ] own link cut to sender down script: %.2f s (seconds 2, retry 3)\n", down_a.when - cut);
    printf("[ measure  ] own link cut to receiver down script: %.2f s (timeout 3)\n", down_b.when - cut);
    // Three failed keepalives 2 s apart and the last pause: 8 s at most; a
    // second cycle would make it 14.
    EXPECT_GE(down_a.when - cut, 4.0);
    EXPECT_LE(down_a.when - cut, 10.5) << log_of(side_a);
    EXPECT_LE(down_b.when - cut, 9.0);

    const double restore = wall_seconds();
    ASSERT_EQ(hosts.in(hosts.a, "link set " + hosts.dev_a + " up"), 0);
    ScriptCall up_a = wait_for_call(side_a, 2, 15000);
    ScriptCall up_b = wait_for_call(side_b, 2, 15000);
    ASSERT_EQ(up_a.word, "up") << log_of(side_a);
    ASSERT_EQ(up_b.word, "up") << log_of(side_b);
    printf("[ measure  ] own link restore to sender up script: %.2f s\n", up_a.when - restore);
    EXPECT_LE(up_a.when - restore, 6.0);
    expect_clean_stop(side_a, sender, 10000);
    EXPECT_EQ(words_of(script_calls(side_a)), "down up down") << "the stop takes the down step";
    expect_clean_stop(side_b, receiver, 10000);
}

TEST(TunnelNetns, CaptureComesBackWhenTheDeviceIsMadeAgain)
{
    HostPair hosts;
    MAKE_HOSTS(hosts);
    Sandbox side_a;
    Sandbox side_b;
    pid_t receiver = start_in(side_b, hosts.b, receiver_words(hosts, "2"));
    ASSERT_TRUE(side_b.wait_for_text("/ip.stderr", "handle_timeout(2)", 10000)) << log_of(side_b);
    pid_t sender = start_in(side_a, hosts.a, sender_words(hosts, "1", "3", {"debug", "1"}));
    // Both captures work before the device goes.
    ASSERT_TRUE(wait_for_count(side_a, REPLY_APPROVED, 2, 15000)) << log_of(side_a);
    ASSERT_EQ(hosts.unlink(), 0);
    EXPECT_EQ(wait_for_call(side_a, 1, 15000).word, "down") << log_of(side_a);
    EXPECT_EQ(wait_for_call(side_b, 1, 15000).word, "down") << log_of(side_b);
    EXPECT_NE(log_of(side_b).find("(notice) capture on " + hosts.dev_b + " ended"), std::string::npos)
        << log_of(side_b);

    ASSERT_EQ(hosts.link(), "");
    EXPECT_EQ(wait_for_call(side_a, 2, 15000).word, "up") << log_of(side_a);
    EXPECT_EQ(wait_for_call(side_b, 2, 15000).word, "up") << log_of(side_b);
    kill(receiver, SIGINT);
    expect_clean_stop(side_a, sender, 10000);
    expect_clean_stop(side_b, receiver, 10000);
}

TEST(TunnelNetns, StopBeforeTheDeviceAppearsEndsAtOnce)
{
    HostPair hosts;
    MAKE_HOSTS(hosts);
    for (int signal_number : {SIGINT, SIGTERM}) {
        for (const char* mode : {"send", "receive"}) {
            Sandbox sb;
            sb.write("/tmp/keepalive_running", "3 twnodev0\n");
            pid_t pid = start_in(sb, hosts.a,
                                 {"remote", hosts.addr_b, "local", hosts.addr_a, "dev", "twnodev0", "gname", "greA",
                                  "mode", mode, "timeout", "2", "debug", "1"});
            ASSERT_TRUE(sb.wait_for_text("/ip.stderr", "No valid specified network interface", 10000)) << log_of(sb);
            expect_clean_stop(sb, pid, 5000, signal_number);
            EXPECT_FALSE(sb.exists("/tmp/keepalive_running")) << mode << " " << strsignal(signal_number);
            EXPECT_EQ(sb.calls(), "") << mode;
        }
    }
}

TEST(TunnelNetns, NegativeRetryNeverGoesDownYetStopsOnSigint)
{
    HostPair hosts;
    MAKE_HOSTS(hosts);
    Sandbox sb;
    // Nobody answers on B.
    pid_t pid = start_in(sb, hosts.a, sender_words(hosts, "1", "-1", {"debug", "1"}));
    ASSERT_TRUE(sb.wait_for_text("/ip.stderr", "try #4,", 15000)) << log_of(sb);
    EXPECT_EQ(sb.calls(), "");
    long long asked = now_ms();
    expect_clean_stop(sb, pid, 8000);
    EXPECT_LT(now_ms() - asked, 6000);
    // The stop takes the down step of a tunnel still up.
    EXPECT_EQ(words_of(script_calls(sb)), "down");
    EXPECT_NE(log_of(sb).find("(notice) tunnel is down"), std::string::npos);
}

// utime + stime of a process, in clock ticks.
long cpu_ticks(pid_t pid)
{
    std::string stat;
    run("cat /proc/" + std::to_string(pid) + "/stat", &stat);
    std::istringstream in(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

TEST(TunnelNetns, ZeroRetryDeclaresDownAtOnceWithoutSpinning)
{
    HostPair hosts;
    MAKE_HOSTS(hosts);
    Sandbox sb;
    pid_t pid = start_in(sb, hosts.a, sender_words(hosts, "0", "0"));
    EXPECT_EQ(wait_for_call(sb, 1, 5000).word, "down") << log_of(sb);
    long before = cpu_ticks(pid);
    // Time must pass to show the loop does not spin: a bounded wait, nothing to wait for.
    sleep(3);
    long spent = cpu_ticks(pid) - before;
    EXPECT_LT(spent, sysconf(_SC_CLK_TCK) / 2) << "ticks in 3 s";
    EXPECT_EQ(log_of(sb).find("keepalive packet"), std::string::npos) << log_of(sb);
    EXPECT_EQ(script_calls(sb).size(), 1u);
    expect_clean_stop(sb, pid, 8000);
}

TEST(TunnelNetns, KernelGreEndpointAnswersKeepalives)
{
    HostPair hosts;
    MAKE_HOSTS(hosts);
    std::string gre = "tw" + std::to_string(getpid()) + "g";
    std::string out;
    if (hosts.in(hosts.b, "link add " + gre + " type gre local " + hosts.addr_b + " remote " + hosts.addr_a, &out) != 0) {
        if (out.find("Unknown device type") != std::string::npos)
            GTEST_SKIP() << "this kernel has no GRE support: " << out;
        FAIL() << "cannot make a GRE tunnel: " << out;
    }
    // The endpoint routes the unwrapped inner packet, which carries its own
    // address as source, back to A.
    std::string sysctl = "for k in ip_forward conf/all/rp_filter conf/" + gre + "/rp_filter conf/all/accept_local conf/"
                       + gre + "/accept_local; do v=1; case $k in *rp_filter) v=0;; esac; echo $v > /proc/sys/net/ipv4/$k; done";
    ASSERT_EQ(run(ip_tool() + " netns exec " + hosts.b + " sh -c '" + sysctl + "'", &out), 0) << out;
    ASSERT_EQ(hosts.in(hosts.b, "link set " + gre + " up"), 0);

    Sandbox sb;
    pid_t pid = start_in(sb, hosts.a, sender_words(hosts, "1", "3", {"debug", "1"}));
    EXPECT_TRUE(sb.wait_for_text("/ip.stderr", REPLY_APPROVED, 10000)) << log_of(sb);
    // Five answered seconds without a script call: a bounded wait, since what
    // it proves is that nothing happens.
    sleep(5);
    EXPECT_EQ(sb.calls(), "") << log_of(sb);
    expect_clean_stop(sb, pid, 8000);
}

// Packets received on a host's device so far.
long long rx_packets(const std::string& host, const std::string& dev)
{
    std::string out;
    run(ip_tool() + " netns exec " + host + " cat /sys/class/net/" + dev + "/statistics/rx_packets", &out);
    return atoll(out.c_str());
}

// Rss, Pss and Private_Dirty of a process, as smaps_rollup gives them.
std::string memory_of(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line, text;
    while (std::getline(in, line))
        for (const char* key : {"Rss:", "Pss:", "Private_Dirty:"})
            if (line.compare(0, strlen(key), key) == 0)
                text += (text.empty() ? "" : ", ") + line.substr(0, strlen(key)) + " "
                      + std::to_string(atol(line.c_str() + strlen(key))) + " kB";
    return text;
}

// A UDP flood from one host to the other, stopped when it goes out of scope.
class Flood {
public:
    Flood(const std::string& host, const std::string& target)
    {
        std::string out;
        run(ip_tool() + " netns exec " + host + " socat -u -b 1400 /dev/zero UDP-SENDTO:" + target
                + ":9 >/dev/null 2>&1 & echo $!",
            &out);
        pid_ = atoi(out.c_str());
    }
    ~Flood() { stop(); }
    void stop()
    {
        if (pid_ > 0)
            kill(pid_, SIGTERM);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// The capture filter keeps a flood beside the tunnel out of the small capture
// rings: every keepalive and every answer still gets through.
TEST(TunnelNetns, FloodedLinkLosesNoKeepalive)
{
    if (run("command -v socat") != 0)
        GTEST_SKIP() << "no socat to flood the link with (sim/install-deps.sh installs it)";
    HostPair hosts;
    MAKE_HOSTS(hosts);
    Sandbox side_a;
    Sandbox side_b;
    pid_t receiver = start_in(side_b, hosts.b, receiver_words(hosts, "3", {"debug", "1"}));
    ASSERT_TRUE(side_b.wait_for_text("/ip.stderr", "handle_timeout(3)", 10000)) << log_of(side_b);
    pid_t sender = start_in(side_a, hosts.a, sender_words(hosts, "1", "3", {"debug", "1"}));
    ASSERT_TRUE(side_a.wait_for_text("/ip.stderr", "(process_reply) reply approved", 10000)) << log_of(side_a);

    const long long rx_before = rx_packets(hosts.b, hosts.dev_b);
    {
        Flood to_b(hosts.a, hosts.addr_b);
        Flood to_a(hosts.b, hosts.addr_a);
        const size_t tries = count_of(log_of(side_a), "(handle_send) try #");
        ASSERT_TRUE(wait_for_count(side_a, "(handle_send) try #", tries + 12, 60000)) << log_of(side_a);
        printf("[ measure  ] sender under flood: %s\n", memory_of(sender).c_str());
        printf("[ measure  ] receiver under flood: %s\n", memory_of(receiver).c_str());
    }
    const long long flooded = rx_packets(hosts.b, hosts.dev_b) - rx_before;
    printf("[ measure  ] flood packets received by B: %lld\n", flooded);
    EXPECT_GT(flooded, 5000) << "the link was not busy";
    EXPECT_EQ(side_a.calls(), "") << log_of(side_a);
    EXPECT_EQ(side_b.calls(), "") << log_of(side_b);

    expect_clean_stop(side_a, sender, 10000);
    const size_t sent = count_of(log_of(side_a), "(handle_send) try #");
    // Every request reaches the receiver; the answer to the last may still
    // have been on its way when the sender stopped.
    EXPECT_TRUE(wait_for_count(side_b, "(process_request) peer packet approved", sent, 5000));
    EXPECT_EQ(count_of(log_of(side_b), "(process_request) peer packet approved"), sent) << log_of(side_b);
    EXPECT_GE(count_of(log_of(side_a), "(process_reply) reply approved") + 1, sent) << log_of(side_a);
    expect_clean_stop(side_b, receiver, 10000);
}

// A skellan stand-in that keeps each call's arguments one per line, bracketed,
// so a name split in two or a quote lost shows; calls.log gets a parsable line.
void install_argument_recorder(const Sandbox& sb)
{
    sb.write("/usr/sbin/skellan", "#!/bin/sh\n"
                                  "{ printf '%s\\n' \"$#\"; printf '[%s]\\n' \"$@\"; } >> \"$ROUTER_ROOT/skellan.args\"\n"
                                  "echo \"$(date +%s.%3N) /usr/sbin/skellan - $2\" >> \"$ROUTER_ROOT/calls.log\"\n");
    chmod(sb.path("/usr/sbin/skellan").c_str(), 0755);
}

TEST(TunnelNetns, HostileTunnelNameReachesTheScriptAsOneLiteralWord)
{
    HostPair hosts;
    MAKE_HOSTS(hosts);
    // Unquoted, each of these would run touch in the daemon's working folder.
    const std::string name = "g x;touch p1;$(touch p2)`touch p3`'q'\"d\"";
    Sandbox side_a;
    Sandbox side_b;
    install_argument_recorder(side_a);
    install_argument_recorder(side_b);
    const std::vector<std::string> in_a = {"env", "-C", side_a.root()};
    const std::vector<std::string> in_b = {"env", "-C", side_b.root()};

    // No receiver yet: the sender goes down, then up once one answers.
    pid_t sender = start_in(side_a, hosts.a,
                            {"remote", hosts.addr_b, "local", hosts.addr_a, "dev", hosts.dev_a, "gname", name, "mode",
                             "send", "seconds", "1", "retry", "2"},
                            in_a);
    ASSERT_EQ(wait_for_call(side_a, 1, 15000).word, "down") << log_of(side_a);
    pid_t receiver = start_in(side_b, hosts.b,
                              {"remote", hosts.addr_a, "local", hosts.addr_b, "dev", hosts.dev_b, "gname", name,
                               "mode", "receive", "timeout", "2"},
                              in_b);
    ASSERT_EQ(wait_for_call(side_a, 2, 15000).word, "up") << log_of(side_a);
    expect_clean_stop(side_a, sender, 10000, SIGTERM);
    // Without keepalives the receiver goes down.
    ASSERT_EQ(wait_for_call(side_b, 1, 15000).word, "down") << log_of(side_b);
    expect_clean_stop(side_b, receiver, 10000, SIGTERM);

    auto expected = [&](std::initializer_list<const char*> words) {
        std::string text;
        for (const char* w : words)
            text += "2\n[" + name + "]\n[" + w + "]\n";
        return text;
    };
    EXPECT_EQ(side_a.read("/skellan.args"), expected({"down", "up", "down"}));
    EXPECT_EQ(side_b.read("/skellan.args").substr(0, expected({"down"}).size()), expected({"down"}));
    for (const Sandbox* sb : {&side_a, &side_b}) {
        for (const char* file : {"/p1", "/p2", "/p3"})
            EXPECT_FALSE(sb->exists(file)) << file << " was made: a command in the name ran";
        // The logged command is the one run, and reads as the name quoted.
        EXPECT_NE(log_of(*sb).find("(debug) /usr/sbin/skellan 'g x;touch p1;$(touch p2)`touch p3`'\\''q'\\''\"d\"' down"),
                  std::string::npos)
            << log_of(*sb);
    }
}

// libpcap turns protocol names into numbers through "/etc/protocols"; a router
// without it must still capture. Each side runs in its own mount namespace with
// the file replaced by an empty one.
TEST(TunnelNetns, CapturesWithoutEtcProtocols)
{
    HostPair hosts;
    MAKE_HOSTS(hosts);
    Sandbox side_a;
    Sandbox side_b;
    auto without_protocols = [](const Sandbox& sb) {
        sb.write("/empty_protocols", "");
        return std::vector<std::string>{
            "unshare", "-m", "--propagation", "private", "sh", "-c",
            "e=$1; shift; if [ -e /etc/protocols ]; then mount --bind \"$e\" /etc/protocols || exit 97; fi; "
            "[ ! -s /etc/protocols ] || exit 98; exec \"$@\"",
            "sh", sb.path("/empty_protocols")};
    };
    pid_t receiver = start_in(side_b, hosts.b, receiver_words(hosts, "2", {"debug", "1"}),
                              without_protocols(side_b));
    ASSERT_TRUE(side_b.wait_for_text("/ip.stderr", "handle_timeout(2)", 10000))
        << "exit " << side_b.wait_exit(receiver, 0) << ": " << log_of(side_b);
    pid_t sender = start_in(side_a, hosts.a, sender_words(hosts, "1", "2", {"debug", "1"}),
                            without_protocols(side_a));
    EXPECT_TRUE(side_b.wait_for_text("/ip.stderr", "(process_request) peer packet approved", 10000)) << log_of(side_b);
    EXPECT_TRUE(side_a.wait_for_text("/ip.stderr", "(process_reply) reply approved", 10000)) << log_of(side_a);
    // Longer than a whole cycle and a watch period: neither side goes down.
    const size_t tries = count_of(log_of(side_a), "(handle_send) try #");
    EXPECT_TRUE(wait_for_count(side_a, "(handle_send) try #", tries + 5, 20000)) << log_of(side_a);
    EXPECT_EQ(side_a.calls(), "") << log_of(side_a);
    EXPECT_EQ(side_b.calls(), "") << log_of(side_b);
    // A filter by name fails here either way: libpcap refuses the unknown name
    // (the capture goes unfiltered, every packet reaches the small ring), or,
    // as seen on the MIPS build, compiles it as protocol 0 and captures nothing.
    EXPECT_EQ(log_of(side_a).find("filter"), std::string::npos) << log_of(side_a);
    EXPECT_EQ(log_of(side_b).find("filter"), std::string::npos) << log_of(side_b);
    expect_clean_stop(side_a, sender, 10000);
    expect_clean_stop(side_b, receiver, 10000);
}

// Three hosts on one switched link: A (x.1) and B (x.2) hold the tunnel,
// C (x.3) is a third host beside them.
class SharedLink {
public:
    SharedLink()
    {
        std::string base = "tf" + std::to_string(getpid());
        for (const char* h : {"s", "a", "b", "c"})
            hosts.push_back(base + h);
        net = "10.202." + std::to_string(getpid() % 250) + ".";
    }
    ~SharedLink()
    {
        for (const std::string& h : hosts)
            run(ip_tool() + " netns del " + h);
    }
    // "" when the link is up, else what failed. The switch is a bridge in a namespace of its own.
    std::string make()
    {
        std::string ip = ip_tool(), out;
        std::string script = "set -e; for h in " + hosts[0] + " " + hosts[1] + " " + hosts[2] + " " + hosts[3] +
                             "; do " + ip + " netns add $h; done; " + ip + " -n " + hosts[0] +
                             " link add br0 type bridge; " + ip + " -n " + hosts[0] + " link set br0 up; ";
        for (int i = 1; i <= 3; ++i)
            script += ip + " link add " + dev(i) + " netns " + hosts[i] + " type veth peer name p" +
                      std::to_string(i) + " netns " + hosts[0] + "; " + ip + " -n " + hosts[0] + " link set p" +
                      std::to_string(i) + " master br0 up; " + ip + " -n " + hosts[i] + " addr add " + addr(i) +
                      "/24 dev " + dev(i) + "; " + ip + " -n " + hosts[i] + " link set " + dev(i) + " up; ";
        return run("sh -c '" + script + "'", &out) == 0 ? "" : "cannot make three hosts on a bridge: " + out;
    }
    const std::string& host(int i) const { return hosts[i]; }
    std::string dev(int i) const { return hosts[i] + "v"; }
    std::string addr(int i) const { return net + std::to_string(i); }

    std::vector<std::string> hosts;
    std::string net;
};

// Sends count copies of packet from inside a host through a raw socket, gap_us
// apart, in a child process; returns its pid.
pid_t send_from(const std::string& host, const std::vector<uint8_t>& packet, const std::string& to, int count,
                int gap_us)
{
    fflush(stdout); // the child must not write our buffered output again
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    int ns = open(("/run/netns/" + host).c_str(), O_RDONLY);
    int sock = -1;
    if (ns >= 0 && setns(ns, CLONE_NEWNET) == 0)
        sock = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    sockaddr_in dst = {};
    dst.sin_family = AF_INET;
    inet_pton(AF_INET, to.c_str(), &dst.sin_addr);
    for (int i = 0; sock >= 0 && i < count; ++i) {
        sendto(sock, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst);
        usleep(static_cast<useconds_t>(gap_us));
    }
    _exit(sock >= 0 ? 0 : 1);
}

int wait_child(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A's keepalive request to B (outer A -> B, inner B -> A) with another outer source.
std::vector<uint8_t> request_with_source(const SharedLink& link, const std::string& source)
{
    std::vector<uint8_t> p(KEEPALIVE_SIZE);
    in_addr a, b, from;
    inet_pton(AF_INET, link.addr(1).c_str(), &a);
    inet_pton(AF_INET, link.addr(2).c_str(), &b);
    inet_pton(AF_INET, source.c_str(), &from);
    fill_keepalive(p.data(), 0x4242, a, b);
    memcpy(&p[12], &from, 4);
    p[10] = p[11] = 0;
    uint16_t sum = ip_checksum(p.data(), 20);
    memcpy(&p[10], &sum, 2);
    return p;
}

// A third host forges A's keepalives with its own outer source: B answers
// and counts only A, so the tunnel goes down once A stops. A's stop says so.
TEST(TunnelNetns, ThirdHostOnTheLinkCannotKeepTheReceiverUp)
{
    SharedLink link;
    {
        std::string skip = HostPair::unavailable();
        if (!skip.empty())
            GTEST_SKIP() << skip;
        std::string why = link.make();
        if (!why.empty())
            FAIL() << "cannot make the hosts: " << why;
    }
    Sandbox side_a;
    Sandbox side_b;
    pid_t receiver = start_in(side_b, link.host(2),
                              {"remote", link.addr(1), "local", link.addr(2), "dev", link.dev(2), "gname", "greB",
                               "mode", "receive", "timeout", "2", "debug", "1"});
    ASSERT_TRUE(side_b.wait_for_text("/ip.stderr", "handle_timeout(2)", 10000)) << log_of(side_b);
    pid_t sender = start_in(side_a, link.host(1),
                            {"remote", link.addr(2), "local", link.addr(1), "dev", link.dev(1), "gname", "greA",
                             "mode", "send", "seconds", "1", "retry", "3"});
    ASSERT_TRUE(wait_for_count(side_b, "(process_request) peer packet approved", 2, 15000)) << log_of(side_b);

    // Two forged requests a second from C for 12 s, then A stops.
    pid_t forger = send_from(link.host(3), request_with_source(link, link.addr(3)), link.addr(2), 24, 500000);
    expect_clean_stop(side_a, sender, 10000, SIGTERM);
    const double stopped = wall_seconds();
    EXPECT_NE(log_of(side_a).find("(notice) (handle_send) stopped by SIGTERM, tunnel set down"), std::string::npos)
        << log_of(side_a);
    EXPECT_NE(log_of(side_a).find("(notice) stopped by SIGTERM"), std::string::npos);
    EXPECT_EQ(log_of(side_a).find("unreachable"), std::string::npos) << log_of(side_a);

    ScriptCall down = wait_for_call(side_b, 1, 15000);
    printf("[ measure  ] forged requester kept the receiver up %.2f s after the sender stopped (timeout 2)\n",
           down.word.empty() ? -1.0 : down.when - stopped);
    ASSERT_EQ(down.word, "down") << log_of(side_b);
    EXPECT_LE(down.when - stopped, 5.0);
    EXPECT_EQ(wait_child(forger), 0);
    // Every forged request dropped, and said once for all of them.
    EXPECT_EQ(count_of(log_of(side_b), "keepalive request from " + link.addr(3) + " dropped: not the remote"), 1u)
        << log_of(side_b);

    // A flood in A's name of requests that cannot be answered (longer than
    // what arrives): one line for the lot, and the receiver goes on.
    std::vector<uint8_t> bad = request_with_source(link, link.addr(1));
    bad[24 + 3] = 200;
    EXPECT_EQ(wait_child(send_from(link.host(3), bad, link.addr(2), 3000, 300)), 0);
    EXPECT_TRUE(wait_for_count(side_b, "unable to send a reply to GRE keepalive request", 1, 5000)) << log_of(side_b);
    EXPECT_EQ(count_of(log_of(side_b), "unable to send a reply"), 1u);
    expect_clean_stop(side_b, receiver, 10000, SIGTERM);
    EXPECT_NE(log_of(side_b).find("(notice) stopped by SIGTERM"), std::string::npos);
}

} // namespace
