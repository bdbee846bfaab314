#include "status.h"

#include <cstdio>
#include "daily.h"
#include "status_file.h"

namespace {

StatusFile instance_one("/var/run/moskar1.status");
StatusFile instance_two("/var/run/moskar2.status");

} // namespace

void traffic_status_publish(const TrafficState& state, const ReadingResult& reading)
{
    StatusFile& status = state.instance == 2 ? instance_two : instance_one;
    if (!status_begin(status))
        return;
    const TrafficSettings& s = state.settings;
    status_add(status, "instance", "%d", state.instance);
    status_add(status, "section", "%s", state.section);
    status_add(status, "interface", "%s", state.interface);
    status_add(status, "enabled", "%d", s.enabled);
    status_add(status, "period", "%s", s.period);
    status_add(status, "used", "%lld", s.enabled == 1 ? s.used : 0LL);
    status_add(status, "datamax", "%lld", s.datamax);
    status_add(status, "endtime", "%lld", s.endtime);
    // The ul speed is the rate of the received bytes (the option's own naming).
    status_add(status, "rx_kbps", "%.2f", static_cast<double>(reading.ul_speed));
    status_add(status, "tx_kbps", "%.2f", static_cast<double>(reading.dl_speed));
    char percent[PERCENT_SLOTS * 21] = {};
    int used = 0;
    for (int i = 0; i < PERCENT_SLOTS && s.percent[i] > 0 && used < static_cast<int>(sizeof percent); ++i)
        used += snprintf(percent + used, sizeof percent - used, "%s%lld", used ? " " : "", s.percent[i]);
    status_add(status, "percent", "%s", percent);
    status_add(status, "alarmsent", "%lld", s.alarmsent);
    status_add(status, "shutdown", "%d", state.shut_down);
    char series[DAILY_TEXT_SIZE];
    daily_format(state.daily.current, series, sizeof series);
    status_add(status, "daily", "%s", series);
    daily_format(state.daily.previous, series, sizeof series);
    status_add(status, "daily_prev", "%s", series);
    status_publish(status);
}
