// A pseudo-terminal pair whose master side plays the modem in tests.
#pragma once

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

class PtyPeer {
public:
    PtyPeer()
    {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            slave_name_ = name;
            struct termios tio;
            tcgetattr(slave_, &tio);
            cfmakeraw(&tio);
            tcsetattr(slave_, TCSANOW, &tio);
        }
    }
    ~PtyPeer()
    {
        stop();
        close_slave();
        if (master_ >= 0)
            close(master_);
    }
    bool ok() const { return master_ >= 0 && slave_ >= 0; }
    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string& slave_name() const { return slave_name_; }
    void close_slave()
    {
        if (slave_ >= 0)
            close(slave_);
        slave_ = -1;
    }

    // Answers each chunk written to the slave with answer after delay_ms;
    // everything received is kept in received().
    void answer_with(const std::string& answer, int delay_ms = 0)
    {
        running_ = true;
        thread_ = std::thread([this, answer, delay_ms] {
            char buf[512];
            while (running_) {
                fd_set set;
                FD_ZERO(&set);
                FD_SET(master_, &set);
                struct timeval tv = {0, 50000};
                if (select(master_ + 1, &set, nullptr, nullptr, &tv) <= 0)
                    continue;
                ssize_t n = read(master_, buf, sizeof buf);
                if (n <= 0)
                    continue;
                received_.append(buf, n);
                if (delay_ms)
                    usleep(delay_ms * 1000);
                if (write(master_, answer.data(), answer.size()) < 0)
                    break;
            }
        });
    }
    void stop()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }
    // Only read after stop().
    const std::string& received() const { return received_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_name_;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::string received_;
};
