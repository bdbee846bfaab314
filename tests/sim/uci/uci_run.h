// Runs the built uci stand-in against a private router root.
#pragma once

#include <string>

struct UciResult {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

class UciRoot {
public:
    UciRoot();
    ~UciRoot();
    UciRoot(const UciRoot&) = delete;
    UciRoot& operator=(const UciRoot&) = delete;

    const std::string& root() const { return root_; }
    void write(const std::string& rel, const std::string& text) const;
    std::string read(const std::string& rel) const;
    bool exists(const std::string& rel) const;
    // args is shell text, e.g. "-q set sms.general.debug='5'".
    UciResult run(const std::string& args) const;
    // Runs a shell script with ROUTER_ROOT set and the uci stand-in first in PATH.
    UciResult shell(const std::string& script) const;

private:
    std::string root_;
};

std::string uci_binary();
