#include "syslog_log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>

#include "watchdog.h"

void syslog_start()
{
    openlog("tolvane", LOG_PID | LOG_PERROR, LOG_DAEMON);
    setlogmask(watch.settings.debug ? LOG_UPTO(LOG_DEBUG) : LOG_UPTO(LOG_NOTICE));
}

void syslog_error(const char* text) { syslog(LOG_ERR, "(error) %s. Exiting program.", text); }

void syslog_notice(const char* text) { syslog(LOG_NOTICE, "(notice) %s", text); }

void syslog_debug(const char* text) { syslog(LOG_NOTICE, "(debug) %s", text); }

void debug_only(const char* text)
{
    if (watch.settings.debug)
        syslog_debug(text);
}

void syslog_debugf(const char* format, ...)
{
    char text[LOG_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    syslog_debug(text);
}

void syslog_noticef(const char* format, ...)
{
    char text[LOG_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    syslog_notice(text);
}

void syslog_finish()
{
    syslog(LOG_NOTICE, "(notice) %s program exited.", "tolvane");
    closelog();
}
