// The real moskar in network namespaces the test makes: the veth pair whose
// counters it reads and the fixture that starts it in a sandbox.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "sandbox.h"

namespace moskar_test {

constexpr int CYCLE_MS = 3000;
// Generous: the machine is shared and every cycle starts several uci processes.
constexpr int WAIT_MS = 8 * CYCLE_MS;

// How often needle occurs in text.
inline size_t count_of(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

inline bool run_quiet(const std::string& cmd)
{
    return system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

// Two namespaces joined by a veth pair: the daemon watches end A, traffic comes from B.
// Names carry our pid and a sequence number; both namespaces go with the object.
class TestNet {
public:
    TestNet()
    {
        static int sequence = 0;
        std::string prefix = "mk" + std::to_string(getpid()) + "s" + std::to_string(sequence++);
        ns_a = prefix + "a";
        ns_b = prefix + "b";
        if_a = ns_a + "0";
        if_b = ns_b + "0";
    }
    ~TestNet()
    {
        run_quiet("ip netns del " + ns_a);
        run_quiet("ip netns del " + ns_b);
    }
    // Empty on success, else what failed.
    std::string create()
    {
        if (!run_quiet("ip netns add " + ns_a) || !run_quiet("ip netns add " + ns_b))
            return "cannot create network namespaces";
        std::string failed = run_steps({
            // No IPv6: its router solicitations would add bytes the test did not send.
            "ip netns exec A sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1",
            "ip netns exec B sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1",
            "ip -n A link set lo up",
        });
        return failed.empty() ? make_link() : failed;
    }
    // Deletes the pair and makes it again under the same names, as a USB
    // modem that resets comes back: a new interface with fresh counters.
    std::string recreate_link()
    {
        std::string failed = run_steps({"ip -n A link del IFA"});
        return failed.empty() ? make_link() : failed;
    }
    // What the kernel counted on end A, received plus transmitted.
    long long counted() const
    {
        std::string dir = "/sys/class/net/" + if_a + "/statistics/";
        std::string out = command_output("ip netns exec " + ns_a + " cat " + dir + "rx_bytes " + dir + "tx_bytes");
        long long rx = 0, tx = 0;
        sscanf(out.c_str(), "%lld %lld", &rx, &tx);
        return rx + tx;
    }
    // Sends UDP from B to A (nobody listens; A counts the bytes anyway).
    void send(int bytes) const
    {
        run_quiet("head -c " + std::to_string(bytes) + " /dev/zero | ip netns exec " + ns_b +
                  " socat -u -b 1400 STDIN UDP-SENDTO:10.77.0.1:9");
    }
    // Sends about 60 KB/s from B to A until the returned process is stopped.
    std::vector<std::string> steady_traffic_args() const
    {
        return {"ip", "netns", "exec", ns_b, "sh", "-c",
                "while :; do head -c 20000 /dev/zero | socat -u -b 1400 STDIN UDP-SENDTO:10.77.0.1:9; "
                "sleep 0.3; done"};
    }
    // Sends until A has counted at least total bytes.
    void send_until(long long total) const
    {
        for (int i = 0; i < 400 && counted() < total; ++i)
            send(20000);
    }

    // Sends at least bytes from B to A as fast as one process can: 64 KB
    // datagrams of zeros over a 64 KB MTU straight from a buffer, no pipe in
    // between (the emulated MIPS guest copies bytes slowly). False when the
    // sender could not enter B or its sends keep failing.
    bool send_fast(long long bytes) const
    {
        pid_t pid = fork();
        if (pid == 0) {
            // ip keeps its namespaces under /run/netns; /var/run is not always a link to /run.
            int ns = open(("/run/netns/" + ns_b).c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0)
                ns = open(("/var/run/netns/" + ns_b).c_str(), O_RDONLY | O_CLOEXEC);
            int fd = ns >= 0 && setns(ns, CLONE_NEWNET) == 0 ? socket(AF_INET, SOCK_DGRAM, 0) : -1;
            sockaddr_in to = {};
            to.sin_family = AF_INET;
            to.sin_port = htons(9);
            inet_pton(AF_INET, "10.77.0.1", &to.sin_addr);
            static char zeros[65000];
            int failures = 0;
            for (long long sent = 0; fd >= 0 && sent < bytes && failures < 1000;) {
                ssize_t n = sendto(fd, zeros, sizeof zeros, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
                if (n > 0)
                    sent += n;
                else
                    ++failures;
            }
            _exit(fd >= 0 && failures < 1000 ? 0 : 1);
        }
        int status = -1;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string ns_a, ns_b, if_a, if_b;

private:
    std::string make_link()
    {
        return run_steps({
            "ip link add IFA netns A mtu 65535 type veth peer name IFB netns B mtu 65535",
            "ip -n A addr add 10.77.0.1/30 dev IFA",
            "ip -n B addr add 10.77.0.2/30 dev IFB",
            "ip -n A link set IFA up",
            "ip -n B link set IFB up",
        });
    }
    // Runs each step with the names filled in; empty on success, else the step that failed.
    std::string run_steps(std::initializer_list<const char*> steps)
    {
        for (const char* step : steps) {
            std::string cmd = step;
            for (auto [from, to] : {std::pair{"IFA", if_a}, {"IFB", if_b}, {"A", ns_a}, {"B", ns_b}}) {
                for (size_t at = cmd.find(from); at != std::string::npos; at = cmd.find(from, at + to.size()))
                    cmd.replace(at, strlen(from), to);
            }
            if (!run_quiet(cmd))
                return "failed: " + cmd;
        }
        return "";
    }
};

class MoskarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box.write("/etc/config/system", "config system\n\toption hostname 'Router'\n");
    }
    // False when the test cannot go on: without root it skips (skip_reason);
    // as root the network must come up, so a failed set-up is a failure.
    bool make_net()
    {
        if (geteuid() != 0) {
            skip_reason = "needs root for network namespaces";
            return false;
        }
        std::string failed = net.create();
        if (!failed.empty()) {
            ADD_FAILURE() << "cannot set up the namespaces as root: " << failed;
            skip_reason = failed;
            return false;
        }
        return true;
    }
    pid_t start_in_net(const std::string& interface, const std::string& instance = "",
                       const std::vector<std::string>& env = {})
    {
        std::vector<std::string> args = {"ip", "netns", "exec", net.ns_a, "env", box.env_root(), box.env_path()};
        args.insert(args.end(), env.begin(), env.end());
        args.insert(args.end(), {bin_path("moskar"), interface, box.path("/var/run/mk.pid")});
        if (!instance.empty())
            args.push_back(instance);
        return box.start("/usr/bin/env", args);
    }
    // Polls a uci value until it equals want.
    bool wait_uci(const std::string& key, const std::string& want, int timeout_ms = WAIT_MS)
    {
        long long deadline = now_ms() + timeout_ms;
        do {
            if (box.uci_get(key) == want)
                return true;
            usleep(200000);
        } while (now_ms() < deadline);
        return false;
    }
    long long uci_ll(const std::string& key) { return atoll(box.uci_get(key).c_str()); }
    // Polls until used is base plus what the kernel counted on end A (the
    // reading that follows the last traffic); false, and the two, when it never is.
    bool wait_used_counted(long long base, std::string* seen, int timeout_ms = WAIT_MS)
    {
        long long deadline = now_ms() + timeout_ms;
        long long used = 0, want = 0;
        do {
            want = base + net.counted();
            used = uci_ll("moskar.traffic.used");
            if (used == want)
                return true;
            usleep(200000);
        } while (now_ms() < deadline);
        *seen = "used " + std::to_string(used) + ", base + kernel " + std::to_string(want);
        return false;
    }
    // Starts moskar on end A and waits for its first accounted cycle.
    pid_t start_counting()
    {
        // The old log would show the line before the new process deletes it.
        unlink(box.path("/var/log/mk.log").c_str());
        pid_t pid = start_in_net(net.if_a);
        if (pid > 0 && !box.wait_for_text("/var/log/mk.log", "set used to", WAIT_MS))
            ADD_FAILURE() << "no cycle: " << box.read("/var/log/mk.log");
        return pid;
    }
    // The committed value of an option, as the package file holds it.
    std::string committed(const std::string& option) const
    {
        std::string text = box.read("/etc/config/moskar");
        std::string mark = "option " + option + " '";
        size_t at = text.find(mark);
        if (at == std::string::npos)
            return "";
        at += mark.size();
        return text.substr(at, text.find('\'', at) - at);
    }
    ino_t package_inode() const
    {
        struct stat st = {};
        stat(box.path("/etc/config/moskar").c_str(), &st);
        return st.st_ino;
    }
    int harnd_stops() { return static_cast<int>(count_of(box.calls(), "/etc/init.d/harnd stop")); }

    Sandbox box;
    TestNet net;
    std::string skip_reason;
};

constexpr const char* QUIET_SECTION = "\toption enabled '1'\n\toption period 'month'\n\toption start_month '1'\n"
                                      "\toption endtime '2000000000'\n";

} // namespace moskar_test
