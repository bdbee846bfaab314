#include "baseline.h"

#include <cstdio>
#include <cstring>

#include "paths.h"
#include "unique_fd.h"

namespace {

// "/tmp/.mk_counters1" for instance 1; RAM, so the flash never sees it.
constexpr const char* BASELINE_PATTERN = "/tmp/.mk_counters%d";
// The file's one line: an interface name, two counters, a boot id, the volume.
constexpr int BASELINE_LINE_SIZE = 128;

} // namespace

bool read_boot_id(char* out, int size)
{
    out[0] = '\0';
    UniqueFile f(fopen(RootedPath("/proc/sys/kernel/random/boot_id").c_str(), "r"));
    char line[BOOT_ID_SIZE + 2] = {};
    if (!f || !fgets(line, sizeof line, f.get()))
        return false;
    line[strcspn(line, " \t\r\n")] = '\0';
    snprintf(out, size, "%s", line);
    return out[0] != '\0';
}

int format_baseline(char* out, int size, const CounterBaseline& b)
{
    return snprintf(out, size, "%s %lld %lld %s %lld %d\n", b.ifname, b.rx, b.tx, b.boot_id, b.used, b.ifindex);
}

bool parse_baseline(const char* text, CounterBaseline* out)
{
    CounterBaseline b = {};
    char ifname[IF_NAME_SIZE + 1] = {};
    char boot_id[BOOT_ID_SIZE + 1] = {};
    // Widths one past the fields: a longer word is refused, not cut.
    int fields = sscanf(text, "%16s %lld %lld %40s %lld %d", ifname, &b.rx, &b.tx, boot_id, &b.used, &b.ifindex);
    if (fields < 5)
        return false;
    if (strlen(ifname) >= sizeof b.ifname || strlen(boot_id) >= sizeof b.boot_id || b.rx < 0 || b.tx < 0 ||
        b.used < 0 || b.ifindex < 0)
        return false;
    memcpy(b.ifname, ifname, sizeof b.ifname);
    memcpy(b.boot_id, boot_id, sizeof b.boot_id);
    *out = b;
    return true;
}

bool resume_from_baseline(TrafficSettings& s, const CounterBaseline& b, const char* ifname, const char* boot_id,
                          long long tx, long long rx, int ifindex)
{
    if (!boot_id[0] || strcmp(b.boot_id, boot_id) != 0 || strcmp(b.ifname, ifname) != 0)
        return false;
    // The interface made again since has counters of its own.
    if (b.ifindex != 0 && b.ifindex != ifindex)
        return false;
    if (tx < b.tx || rx < b.rx)
        return false;
    s.last_tx = b.tx;
    s.last_rx = b.rx;
    s.last_total = b.tx + b.rx;
    s.last_ifindex = ifindex;
    s.used = b.used;
    return true;
}

bool load_baseline(const TrafficState& state, CounterBaseline* out)
{
    UniqueFile f(fopen(RootedPath::format(BASELINE_PATTERN, state.instance).c_str(), "r"));
    char line[BASELINE_LINE_SIZE] = {};
    return f && fgets(line, sizeof line, f.get()) && parse_baseline(line, out);
}

namespace {

void write_baseline(const TrafficState& state, const CounterBaseline& b)
{
    char line[BASELINE_LINE_SIZE];
    format_baseline(line, sizeof line, b);
    // Written beside and renamed over, so a kill never leaves half a line.
    RootedPath path = RootedPath::format(BASELINE_PATTERN, state.instance);
    RootedPath temp = RootedPath::format("/tmp/.mk_counters%d.new", state.instance);
    UniqueFile f(fopen(temp.c_str(), "w"));
    if (!f)
        return;
    bool ok = fputs(line, f.get()) >= 0;
    if (f.close_now() == 0 && ok)
        rename(temp.c_str(), path.c_str());
}

} // namespace

void save_baseline(const TrafficState& state, long long tx, long long rx, int ifindex, long long used)
{
    // Without a boot id a baseline could be taken over after a reboot.
    if (!state.boot_id[0])
        return;
    CounterBaseline b = {};
    snprintf(b.ifname, sizeof b.ifname, "%s", state.interface);
    b.rx = rx;
    b.tx = tx;
    snprintf(b.boot_id, sizeof b.boot_id, "%s", state.boot_id);
    b.used = used;
    b.ifindex = ifindex;
    write_baseline(state, b);
}

void reset_baseline_used(const TrafficState& state)
{
    CounterBaseline b;
    if (!load_baseline(state, &b))
        return;
    b.used = 0;
    write_baseline(state, b);
}
