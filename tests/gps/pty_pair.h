// A raw pseudo-terminal pair: the test writes the master, a daemon opens the slave.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

struct PtyPair {
    int master = -1;
    int slave = -1; // kept open so the line never hangs up between the daemon's opens
    std::string slave_path;

    PtyPair()
    {
        termios raw;
        memset(&raw, 0, sizeof raw);
        cfmakeraw(&raw);
        char name[128];
        if (openpty(&master, &slave, name, &raw, nullptr) == 0) {
            slave_path = name;
            // Daemons started by the test must not inherit our ends.
            fcntl(master, F_SETFD, FD_CLOEXEC);
            fcntl(slave, F_SETFD, FD_CLOEXEC);
        }
    }
    ~PtyPair()
    {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool write_all(const std::string& bytes) const
    {
        return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Reads what arrives on the master until want bytes or timeout_ms.
    std::string read_master(size_t want, int timeout_ms) const;
};

// A USB serial port as the daemons see it: a stable name (a link to a
// pseudo-terminal) whose device vanishes, hanging up whoever holds it, and
// comes back as a new device under the same name.
class ReplugPort {
public:
    explicit ReplugPort(std::string name) : name_(std::move(name)) { come_back(); }
    ~ReplugPort() { unlink(name_.c_str()); }
    void vanish()
    {
        unlink(name_.c_str());
        pty_.reset();
    }
    bool come_back()
    {
        pty_.reset(new PtyPair);
        return symlink(pty_->slave_path.c_str(), name_.c_str()) == 0;
    }
    const std::string& name() const { return name_; }
    const PtyPair& pty() const { return *pty_; }

private:
    std::string name_;
    std::unique_ptr<PtyPair> pty_;
};
