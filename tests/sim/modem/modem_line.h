// A host end of the simulated modem's line for tests: opens the link raw,
// writes commands and collects answers up to an expected text.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "sandbox.h"

class ModemLine {
public:
    explicit ModemLine(const std::string& link)
    {
        fd_ = open(link.c_str(), O_RDWR | O_NOCTTY);
        if (fd_ >= 0) {
            struct termios tio;
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~ModemLine()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    ModemLine(const ModemLine&) = delete;
    ModemLine& operator=(const ModemLine&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool send(const std::string& text) { return write(fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size()); }
    // Writes text and returns what arrives until `until` is seen (or 2 s pass).
    std::string exchange(const std::string& text, const std::string& until, int timeout_ms = 2000)
    {
        if (!send(text))
            return "<write failed>";
        std::string got;
        long long deadline = now_ms() + timeout_ms;
        while (got.find(until) == std::string::npos && now_ms() < deadline) {
            struct pollfd pfd = {fd_, POLLIN, 0};
            if (poll(&pfd, 1, 50) > 0) {
                char buf[512];
                ssize_t n = read(fd_, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, static_cast<size_t>(n));
            }
        }
        return got;
    }

private:
    int fd_ = -1;
};

// Waits for a path to exist (the simulator's link), false after timeout_ms.
inline bool wait_for_path(const std::string& path, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    while (access(path.c_str(), F_OK) != 0) {
        if (now_ms() > deadline)
            return false;
        usleep(20000);
    }
    return true;
}
