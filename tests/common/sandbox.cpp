#include "sandbox.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

std::string slurp(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace

std::string command_output(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

std::string bin_path(const std::string& name) { return std::string(BUILD_DIR) + "/bin/" + name; }
std::string sim_bin_path(const std::string& name) { return std::string(BUILD_DIR) + "/sim/bin/" + name; }
std::string source_path(const std::string& relative) { return std::string(SOURCE_DIR) + "/" + relative; }

Sandbox::Sandbox()
{
    char templ[] = "/tmp/routersim.XXXXXX";
    const char* made = mkdtemp(templ);
    if (!made) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    root_ = made;
    std::string cmd = quote(source_path("sim/sandbox.sh")) + " " + quote(root_) + " " + quote(sim_bin_path("uci"));
    if (system(cmd.c_str()) != 0)
        ADD_FAILURE() << "sandbox.sh failed for " << root_;
}

Sandbox::~Sandbox()
{
    for (pid_t pid : children_) {
        if (kill(pid, 0) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    if (!root_.empty() && !getenv("KEEP_SANDBOX"))
        system(("rm -rf " + quote(root_)).c_str());
}

void Sandbox::write(const std::string& router_path, const std::string& text) const
{
    std::ofstream(path(router_path), std::ios::binary | std::ios::trunc) << text;
}

void Sandbox::append(const std::string& router_path, const std::string& text) const
{
    std::ofstream(path(router_path), std::ios::binary | std::ios::app) << text;
}

std::string Sandbox::read(const std::string& router_path) const { return slurp(path(router_path)); }

bool Sandbox::exists(const std::string& router_path) const { return access(path(router_path).c_str(), F_OK) == 0; }

std::string Sandbox::env_path() const
{
    const char* inherited = getenv("PATH");
    return "PATH=" + root_ + "/stubbin:" + (inherited ? inherited : "/usr/bin:/bin");
}

std::string Sandbox::uci_get(const std::string& key) const
{
    return command_output(env_root() + " " + quote(sim_bin_path("uci")) + " get " + quote(key) + " 2>/dev/null");
}

int Sandbox::shell(const std::string& command) const
{
    std::string cmd = "env " + quote(env_root()) + " " + quote(env_path()) + " sh -c " + quote(command);
    int status = system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t Sandbox::start(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& extra_env)
{
    // Never let a daemon under test reach the machine's real reboot.
    if (shell("test \"$(command -v reboot)\" = \"$ROUTER_ROOT/stubbin/reboot\"") != 0) {
        ADD_FAILURE() << "reboot does not resolve to the sandbox stub";
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        std::string base = program.substr(program.rfind('/') + 1);
        int out = open((root_ + "/" + base + ".stdout").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int err = open((root_ + "/" + base + ".stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setenv("ROUTER_ROOT", root_.c_str(), 1);
        putenv(strdup(env_path().c_str()));
        for (const std::string& e : extra_env)
            putenv(strdup(e.c_str()));
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid > 0)
        children_.push_back(pid);
    return pid;
}

int Sandbox::wait_exit(pid_t pid, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 || now_ms() > deadline)
            return -1;
        usleep(20000);
    }
}

void Sandbox::stop(pid_t pid, int signal_number)
{
    kill(pid, signal_number);
    if (wait_exit(pid, 3000) < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

bool Sandbox::wait_for_text(const std::string& router_path, const std::string& needle, int timeout_ms) const
{
    long long deadline = now_ms() + timeout_ms;
    do {
        if (read(router_path).find(needle) != std::string::npos)
            return true;
        usleep(50000);
    } while (now_ms() < deadline);
    return false;
}
