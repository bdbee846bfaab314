// The watchdog logs through syslog, with LOG_PERROR so that every line also
// reaches standard error.
#pragma once

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
