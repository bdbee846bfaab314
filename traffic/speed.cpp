#include "speed.h"

#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_link.h>
#include <net/if.h>

#include "log.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "speed.cpp";

int get_if_dbytes(ndev* dev)
{
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        log_print(LOG_ERROR, "[%s %d] Error： Get Interface Address Fail:", LOG_UNIT, __LINE__);
        return -1;
    }
    int rc = -1;
    for (struct ifaddrs* a = list; a; a = a->ifa_next) {
        if (!(a->ifa_flags & (IFF_UP | IFF_RUNNING)) || !a->ifa_data || !a->ifa_name)
            continue;
        if (strcmp(a->ifa_name, dev->name) != 0)
            continue;
        const auto* stats = static_cast<const struct rtnl_link_stats*>(a->ifa_data);
        dev->tx = stats->tx_bytes;
        dev->rx = stats->rx_bytes;
        rc = 0;
        break;
    }
    freeifaddrs(list);
    return rc;
}

int get_used(const char* ifname, long long* tx, long long* rx)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： get_used(%s)", LOG_UNIT, __LINE__, ifname);
    ndev dev;
    memset(&dev, 0, sizeof dev);
    // A longer name is no kernel interface; cut, it could match another one.
    int n = snprintf(dev.name, sizeof dev.name, "%s", ifname);
    if (n < 0 || n >= IF_NAME_SIZE || get_if_dbytes(&dev) != 0) {
        log_print(LOG_DEBUG, "[%s %d] Debug： get used Fail", LOG_UNIT, __LINE__);
        return -1;
    }
    *tx = dev.tx;
    *rx = dev.rx;
    log_print(LOG_DEBUG, "[%s %d] Debug： get_used() done ", LOG_UNIT, __LINE__);
    return 0;
}

namespace {

long long counter_growth(long long now, long long last)
{
    return now >= last ? now - last : now;
}

} // namespace

ReadingResult account_reading(TrafficSettings& s, long long tx, long long rx)
{
    ReadingResult r;
    long long dtx = counter_growth(tx, s.last_tx);
    long long drx = counter_growth(rx, s.last_rx);
    r.added = dtx + drx;
    r.ul_speed = static_cast<float>(drx / SPEED_INTERVAL_MS);
    r.dl_speed = static_cast<float>(dtx / SPEED_INTERVAL_MS);
    s.used += r.added;
    s.last_tx = tx;
    s.last_rx = rx;
    s.last_total = tx + rx;
    return r;
}
