// Alarm lines into the SMS outbox spool and the shutdown of the mobile connection.
#pragma once

#include <cstddef>

#include "settings.h"

// One spool line: number, comma, host name and alarm text, newline.
constexpr int ALARM_LINE_SIZE = 512;

// p percent of datamax MB, in KB; past 64 bits a threshold no volume reaches.
long long alarm_threshold_kb(long long datamax, long long percent);
// Builds the spool line for one number; returns its length.
int format_alarm_line(char* out, size_t size, const char* number, const char* hostname, long long datamax,
                      long long used);
// Raises alarmsent to the highest percentage reached and sends one batch when it rose.
void check_alarm(TrafficState& state);
// Appends one alarm line per number of the phone option to the spool.
void send_alarm(TrafficState& state);
// Stops the mobile connection when the allowance is used up.
void check_allowance(TrafficState& state);
void shutdown_mobile(TrafficState& state);
// Runs "rm -rf /etc/forcecellup" (at a period change and a reset).
void remove_forcecellup();
