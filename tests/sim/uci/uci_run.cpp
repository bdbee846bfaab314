#include "uci_run.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

UciResult capture(const std::string& cmd, const UciRoot& root)
{
    UciResult result;
    FILE* p = popen((cmd + " 2>'" + root.root() + "/.stderr'").c_str(), "r");
    if (!p)
        return result;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        result.out.append(buf, n);
    int status = pclose(p);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = root.read("/.stderr");
    return result;
}

} // namespace

std::string uci_binary()
{
    return std::string(BUILD_DIR) + "/sim/bin/uci";
}

UciRoot::UciRoot()
{
    char templ[] = "/tmp/uci_test_XXXXXX";
    root_ = mkdtemp(templ) ? templ : "/tmp/uci_test_failed";
    mkdir((root_ + "/etc").c_str(), 0755);
    mkdir((root_ + "/etc/config").c_str(), 0755);
    mkdir((root_ + "/tmp").c_str(), 0755);
}

UciRoot::~UciRoot()
{
    std::string cmd = "rm -rf '" + root_ + "'";
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", root_.c_str());
}

void UciRoot::write(const std::string& rel, const std::string& text) const
{
    std::ofstream(root_ + rel, std::ios::binary) << text;
}

std::string UciRoot::read(const std::string& rel) const
{
    std::ifstream in(root_ + rel, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool UciRoot::exists(const std::string& rel) const
{
    return access((root_ + rel).c_str(), F_OK) == 0;
}

UciResult UciRoot::run(const std::string& args) const
{
    return capture("ROUTER_ROOT='" + root_ + "' '" + uci_binary() + "' " + args, *this);
}

UciResult UciRoot::shell(const std::string& script) const
{
    write("/.script", script);
    const char* path = getenv("PATH");
    std::string bin_dir = std::string(BUILD_DIR) + "/sim/bin";
    return capture("ROUTER_ROOT='" + root_ + "' PATH='" + bin_dir + ":" + (path ? path : "/usr/bin:/bin") + "' sh '" +
                       root_ + "/.script'",
                   *this);
}
