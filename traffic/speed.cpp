#include "speed.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "log.h"
#include "socket_open.h"
#include "unique_fd.h"

constexpr char LOG_UNIT[] = "speed.cpp";

namespace {

// The kernel's answer for one link: its attributes with the statistics, the
// address families' settings and more; a few KB at most.
constexpr size_t LINK_REPLY_SIZE = 16384;
constexpr long long COUNTER_32_RANGE = 1LL << 32;

struct LinkRequest {
    nlmsghdr header;
    ifinfomsg info;
    char name_attr[RTA_SPACE(IF_NAME_SIZE)];
};

// Asks for the one link named dev->name; the answer lands in reply.
ssize_t request_link(const ndev* dev, void* reply, size_t size)
{
    UniqueFd fd(open_socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE));
    if (!fd.valid())
        return -1;
    // The kernel answers at once; a bound keeps a stuck socket from stopping the cycle.
    struct timeval bound = {2, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    LinkRequest req;
    memset(&req, 0, sizeof req);
    size_t name_len = strlen(dev->name) + 1;
    req.header.nlmsg_len = NLMSG_LENGTH(sizeof req.info) + RTA_LENGTH(name_len);
    req.header.nlmsg_type = RTM_GETLINK;
    req.header.nlmsg_flags = NLM_F_REQUEST;
    req.header.nlmsg_seq = 1;
    req.info.ifi_family = AF_UNSPEC;
    auto* attr = reinterpret_cast<rtattr*>(req.name_attr);
    attr->rta_type = IFLA_IFNAME;
    attr->rta_len = RTA_LENGTH(name_len);
    memcpy(RTA_DATA(attr), dev->name, name_len);
    sockaddr_nl kernel = {};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd.get(), &req, req.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return -1;
    ssize_t n;
    do
        n = recv(fd.get(), reply, size, 0);
    while (n < 0 && errno == EINTR);
    return n;
}

} // namespace

int parse_link_reply(const void* reply, size_t length, ndev* dev)
{
    const auto* bytes = static_cast<const unsigned char*>(reply);
    nlmsghdr header;
    if (length < sizeof header)
        return -1;
    memcpy(&header, bytes, sizeof header);
    if (header.nlmsg_type != RTM_NEWLINK || header.nlmsg_len > length ||
        header.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
        return -1;
    ifinfomsg info;
    memcpy(&info, bytes + NLMSG_HDRLEN, sizeof info);
    if (!(info.ifi_flags & (IFF_UP | IFF_RUNNING)))
        return -1;
    bool found = false;
    size_t at = NLMSG_LENGTH(NLMSG_ALIGN(sizeof info));
    while (at + sizeof(rtattr) <= header.nlmsg_len) {
        rtattr attr;
        memcpy(&attr, bytes + at, sizeof attr);
        if (attr.rta_len < sizeof attr || attr.rta_len > header.nlmsg_len - at)
            return -1;
        const unsigned char* data = bytes + at + RTA_LENGTH(0);
        size_t data_len = attr.rta_len - RTA_LENGTH(0);
        // The 64-bit counters where the kernel has them; the 32-bit record
        // only from a kernel older than both.
        if (attr.rta_type == IFLA_STATS64 && data_len >= sizeof(rtnl_link_stats64)) {
            rtnl_link_stats64 stats;
            memcpy(&stats, data, sizeof stats);
            dev->tx = stats.tx_bytes;
            dev->rx = stats.rx_bytes;
            found = true;
        } else if (attr.rta_type == IFLA_STATS && data_len >= sizeof(rtnl_link_stats) && !found) {
            rtnl_link_stats stats;
            memcpy(&stats, data, sizeof stats);
            dev->tx = stats.tx_bytes;
            dev->rx = stats.rx_bytes;
            found = true;
        }
        at += RTA_ALIGN(attr.rta_len);
    }
    if (!found)
        return -1;
    dev->ifindex = info.ifi_index;
    return 0;
}

int get_if_dbytes(ndev* dev)
{
    static unsigned char reply[LINK_REPLY_SIZE];
    ssize_t n = request_link(dev, reply, sizeof reply);
    if (n < 0) {
        LOG(LOG_ERROR, "Error： Get Interface Address Fail:");
        return -1;
    }
    // An error answer (no such interface) parses as no link.
    return parse_link_reply(reply, static_cast<size_t>(n), dev);
}

int get_used(const char* ifname, long long* tx, long long* rx, int* ifindex)
{
    LOG(LOG_DEBUG, "Debug： get_used(%s)", ifname);
    ndev dev;
    memset(&dev, 0, sizeof dev);
    // A longer name is no kernel interface; cut, it could match another one.
    int n = snprintf(dev.name, sizeof dev.name, "%s", ifname);
    if (n <= 0 || n >= IF_NAME_SIZE || get_if_dbytes(&dev) != 0) {
        LOG(LOG_DEBUG, "Debug： get used Fail");
        return -1;
    }
    // Past 2^63 a byte counter is no counter: it would turn negative here.
    *tx = static_cast<long long>(dev.tx & INT64_MAX);
    *rx = static_cast<long long>(dev.rx & INT64_MAX);
    *ifindex = dev.ifindex;
    LOG(LOG_DEBUG, "Debug： get_used() done ");
    return 0;
}

long long counter_growth(long long now, long long last, long long max_growth)
{
    if (now >= last)
        return now - last;
    // Only a counter that stayed below 2^32 can have wrapped there.
    if (last < COUNTER_32_RANGE && COUNTER_32_RANGE - last + now <= max_growth)
        return COUNTER_32_RANGE - last + now;
    return now;
}

ReadingResult account_reading(TrafficSettings& s, long long tx, long long rx, int ifindex, long long max_growth)
{
    ReadingResult r;
    long long dtx = tx;
    long long drx = rx;
    if (ifindex == s.last_ifindex) {
        dtx = counter_growth(tx, s.last_tx, max_growth);
        drx = counter_growth(rx, s.last_rx, max_growth);
    }
    r.added = dtx + drx;
    r.ul_speed = static_cast<float>(drx / SPEED_INTERVAL_MS);
    r.dl_speed = static_cast<float>(dtx / SPEED_INTERVAL_MS);
    s.used += r.added;
    s.last_tx = tx;
    s.last_rx = rx;
    s.last_total = tx + rx;
    s.last_ifindex = ifindex;
    return r;
}
