// Small loopback servers that the GPS tests forward to.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// TCP server on 127.0.0.1; collects what each accepted connection sends.
class TcpTestServer {
public:
    // port 0 picks a free port; a given port is reused (restart on the same port).
    explicit TcpTestServer(int port = 0, int backlog = 16, bool accept_now = true);
    ~TcpTestServer();
    int port() const { return port_; }
    // Starts accepting (for a server made with accept_now false).
    void start_accepting();
    // Bytes received on all connections, in arrival order.
    std::string received() const;
    // Bytes of connection n (0-based), "" when there is none.
    std::string received_on(size_t n) const;
    size_t connections() const;
    // Closes every accepted connection (the listener stays).
    void drop_connections();
    // Waits until received() holds needle; false after timeout_ms.
    bool wait_for(const std::string& needle, int timeout_ms) const;
    bool wait_for_connections(size_t count, int timeout_ms) const;
    // Arrival time (CLOCK_MONOTONIC ns) of every recv, with its length.
    std::vector<std::pair<long long, size_t>> arrivals() const;

private:
    void accept_loop();
    void reader(int fd, size_t slot);

    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::string all_;
    std::vector<std::string> per_connection_;
    std::vector<int> fds_;
    std::vector<std::pair<long long, size_t>> arrivals_;
    std::thread accept_thread_;
    std::vector<std::thread> threads_;
};

// UDP server on 127.0.0.1; collects datagrams.
class UdpTestServer {
public:
    explicit UdpTestServer(int port = 0);
    ~UdpTestServer();
    int port() const { return port_; }
    std::vector<std::string> datagrams() const;
    bool wait_for_count(size_t count, int timeout_ms) const;

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> datagrams_;
    std::thread thread_;
};

// TCP server on 127.0.0.1 that misbehaves with every connection it accepts:
// Stall keeps it open and never reads (with a small receive buffer, so the
// sender's buffer fills soon); Reset closes it at once with an RST.
class MisbehavingTcpServer {
public:
    enum class Mode { Stall, Reset };
    explicit MisbehavingTcpServer(Mode mode);
    ~MisbehavingTcpServer();
    int port() const { return port_; }
    size_t accepted() const { return accepted_.load(); }

private:
    Mode mode_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> accepted_{0};
    std::vector<int> held_;
    std::thread thread_;
};

long long monotonic_ns();
// A loopback port that nobody listens on right now.
int unused_tcp_port();
// Connections that fill the accept queue of a server made with backlog 0 and
// not accepting: a further connect then stays pending (its SYN is dropped).
std::vector<int> fill_accept_queue(int port);
