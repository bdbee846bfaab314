#include "loopback_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <functional>

long long monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

namespace {

int bound_socket(int type, int port, int* bound_port)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound_port = ntohs(addr.sin_port);
    return fd;
}

bool poll_until(int timeout_ms, const std::function<bool()>& done)
{
    long long deadline = monotonic_ns() + timeout_ms * 1000000LL;
    while (!done()) {
        if (monotonic_ns() > deadline)
            return false;
        usleep(10000);
    }
    return true;
}

// A connection accepted within 50 ms, or -1, so accept loops can see their stop flag.
int accept_briefly(int listen_fd)
{
    pollfd p = {listen_fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0)
        return -1;
    return accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
}

} // namespace

MisbehavingTcpServer::MisbehavingTcpServer(Mode mode) : mode_(mode)
{
    listen_fd_ = bound_socket(SOCK_STREAM, 0, &port_);
    // Inherited by accepted connections.
    int small = 4096;
    if (mode_ == Mode::Stall)
        setsockopt(listen_fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    listen(listen_fd_, 64);
    thread_ = std::thread([this] {
        while (!stopping_) {
            int fd = accept_briefly(listen_fd_);
            if (fd < 0)
                continue;
            ++accepted_;
            if (mode_ == Mode::Stall) {
                held_.push_back(fd);
                continue;
            }
            linger hard = {1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            close(fd);
        }
    });
}

MisbehavingTcpServer::~MisbehavingTcpServer()
{
    stopping_ = true;
    thread_.join();
    for (int fd : held_)
        close(fd);
    close(listen_fd_);
}

int unused_tcp_port()
{
    int port = 0;
    int fd = bound_socket(SOCK_STREAM, 0, &port);
    close(fd);
    return port;
}

TcpTestServer::TcpTestServer(int port, int backlog, bool accept_now)
{
    listen_fd_ = bound_socket(SOCK_STREAM, port, &port_);
    if (listen_fd_ >= 0)
        listen(listen_fd_, backlog);
    if (accept_now)
        start_accepting();
}

void TcpTestServer::start_accepting()
{
    accept_thread_ = std::thread([this] { accept_loop(); });
}

TcpTestServer::~TcpTestServer()
{
    stopping_ = true;
    drop_connections();
    if (accept_thread_.joinable())
        accept_thread_.join();
    // No reader is added once the accept loop has ended.
    for (std::thread& t : threads_)
        t.join();
    if (listen_fd_ >= 0)
        close(listen_fd_);
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : fds_)
        if (fd >= 0)
            close(fd);
}

void TcpTestServer::accept_loop()
{
    while (!stopping_) {
        int fd = accept_briefly(listen_fd_);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        fds_.push_back(fd);
        per_connection_.emplace_back();
        size_t slot = per_connection_.size() - 1;
        threads_.emplace_back([this, fd, slot] { reader(fd, slot); });
    }
}

void TcpTestServer::reader(int fd, size_t slot)
{
    char buf[65536];
    while (!stopping_) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        std::lock_guard<std::mutex> lock(mutex_);
        all_.append(buf, static_cast<size_t>(n));
        per_connection_[slot].append(buf, static_cast<size_t>(n));
        arrivals_.emplace_back(monotonic_ns(), static_cast<size_t>(n));
    }
}

void TcpTestServer::drop_connections()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : fds_)
        shutdown(fd, SHUT_RDWR);
}

std::string TcpTestServer::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return all_;
}

std::string TcpTestServer::received_on(size_t n) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return n < per_connection_.size() ? per_connection_[n] : std::string();
}

size_t TcpTestServer::connections() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fds_.size();
}

std::vector<std::pair<long long, size_t>> TcpTestServer::arrivals() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
}

bool TcpTestServer::wait_for(const std::string& needle, int timeout_ms) const
{
    return poll_until(timeout_ms, [&] { return received().find(needle) != std::string::npos; });
}

bool TcpTestServer::wait_for_connections(size_t count, int timeout_ms) const
{
    return poll_until(timeout_ms, [&] { return connections() >= count; });
}

UdpTestServer::UdpTestServer(int port)
{
    fd_ = bound_socket(SOCK_DGRAM, port, &port_);
    thread_ = std::thread([this] {
        char buf[65536];
        while (!stopping_) {
            pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n < 0)
                continue;
            std::lock_guard<std::mutex> lock(mutex_);
            datagrams_.emplace_back(buf, static_cast<size_t>(n));
        }
    });
}

UdpTestServer::~UdpTestServer()
{
    stopping_ = true;
    thread_.join();
    close(fd_);
}

std::vector<std::string> UdpTestServer::datagrams() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return datagrams_;
}

bool UdpTestServer::wait_for_count(size_t count, int timeout_ms) const
{
    return poll_until(timeout_ms, [&] { return datagrams().size() >= count; });
}

std::vector<int> fill_accept_queue(int port)
{
    std::vector<int> fds;
    for (int i = 0; i < 2; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr;
        memset(&addr, 0, sizeof addr);
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fds.push_back(fd);
    }
    usleep(100000);
    return fds;
}
