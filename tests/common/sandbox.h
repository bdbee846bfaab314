// A private simulated router root for tests that run the real daemons.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    // The sandbox location of a router path such as "/tmp/sms_tosend".
    std::string path(const std::string& router_path) const { return root_ + router_path; }

    void write(const std::string& router_path, const std::string& text) const;
    void append(const std::string& router_path, const std::string& text) const;
    std::string read(const std::string& router_path) const;
    bool exists(const std::string& router_path) const;
    // A UCI package file under /etc/config.
    void uci_package(const std::string& package, const std::string& text) const { write("/etc/config/" + package, text); }
    // Asks the uci stand-in, as a daemon would ("" when the key is missing).
    std::string uci_get(const std::string& key) const;
    // What the platform stand-ins were asked to do, one call a line.
    std::string calls() const { return read("/calls.log"); }

    // Starts a program with ROUTER_ROOT and a PATH led by the sandbox's stub
    // folder; refuses (test failure, returns -1) when `reboot` would not
    // resolve to the stub. stdout and stderr go to files under the root.
    pid_t start(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& extra_env = {});
    // Runs a shell command in the sandbox's environment and returns its exit status.
    int shell(const std::string& command) const;
    // Exit status, or -1 if it is still running after timeout_ms.
    int wait_exit(pid_t pid, int timeout_ms);
    void stop(pid_t pid, int signal_number = 15);
    // What a started program wrote, by its file name ("brenlow").
    std::string stdout_of(const std::string& name) const { return read("/" + name + ".stdout"); }
    std::string stderr_of(const std::string& name) const { return read("/" + name + ".stderr"); }

    // Polls a file until it contains needle; false after timeout_ms.
    bool wait_for_text(const std::string& router_path, const std::string& needle, int timeout_ms) const;

    // Environment lines a child gets: ROUTER_ROOT=..., PATH=...
    std::string env_root() const { return "ROUTER_ROOT=" + root_; }
    std::string env_path() const;

private:
    std::string root_;
    std::vector<pid_t> children_;
};

// The build tree's binaries.
std::string bin_path(const std::string& name);     // build/bin/<name>
std::string sim_bin_path(const std::string& name); // build/sim/bin/<name>
std::string source_path(const std::string& relative);

// What a shell command prints, trailing newlines removed.
std::string command_output(const std::string& command);

// Current wall clock in milliseconds, for measuring waits in tests.
long long now_ms();
