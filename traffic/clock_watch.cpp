#include "clock_watch.h"

#include <ctime>

#include "log.h"

constexpr char LOG_UNIT[] = "clock_watch.cpp";

namespace {

long long seconds_of(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec;
}

} // namespace

long long wall_seconds()
{
    return seconds_of(CLOCK_REALTIME);
}

long long boot_seconds()
{
    return seconds_of(CLOCK_BOOTTIME);
}

ClockStep observe_clock(ClockWatch& w, long long wall, long long boot)
{
    long long offset = wall - boot;
    long long moved = offset - w.offset;
    bool known = w.known;
    w.known = true;
    w.offset = offset;
    if (!known || (moved <= CLOCK_STEP_SECONDS && moved >= -CLOCK_STEP_SECONDS))
        return ClockStep::None;
    LOG(LOG_WARNING, "Warning： clock stepped by %lld s to %lld", moved, wall);
    return moved > 0 ? ClockStep::Forward : ClockStep::Backward;
}
