// The watchdog logs through syslog, with LOG_PERROR so that every line also
// reaches standard error.
#pragma once

#include <atomic>
#include <cstdint>

void syslog_start();
// "(error) %s. Exiting program." at LOG_ERR, whether or not the program ends.
void syslog_error(const char* text);
void syslog_notice(const char* text);
// Debug texts go out at notice priority.
void syslog_debug(const char* text);
// A debug text written only when the debug key was given.
void debug_only(const char* text);
// printf-style debug text, always written.
void syslog_debugf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void syslog_noticef(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The closing line, then closelog.
void syslog_finish();

// Lines caused by received packets. Anyone on the link can send packets, so
// each kind of line is written at most once a period, and the next line of
// the kind says how many were held back meanwhile.
struct LineLimit {
    uint32_t period_ms;
    // Monotonic ms, cut to 32 bits (the router's MIPS has no lock-free 64-bit
    // atomics), of the latest line written; 0 none yet.
    std::atomic<uint32_t> last_ms;
    std::atomic<uint32_t> held;
};
// Notices about packets: once a minute.
constexpr uint32_t PACKET_NOTICE_PERIOD_MS = 60 * 1000;
// Debug traces of accepted packets keep a keepalive's pace (one a second or
// slower), not a flood's.
constexpr uint32_t PACKET_TRACE_PERIOD_MS = 500;

void line_limit_reset(LineLimit* limit, uint32_t period_ms);
void syslog_notice_limited(LineLimit* limit, const char* text);
// Written only when the debug key was given.
void debug_only_limited(LineLimit* limit, const char* text);
