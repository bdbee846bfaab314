#include "syslog_log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>

#include "monotonic.h"
#include "watchdog.h"

namespace {

// True when a line of the kind may go out now; *held gets how many were held back before it.
bool line_passes(LineLimit* limit, uint32_t* held)
{
    // Never 0, which marks "no line yet"; differences are taken modulo 2^32.
    const uint32_t now = static_cast<uint32_t>(monotonic_ms()) | 1;
    uint32_t last = limit->last_ms.load();
    if ((last != 0 && now - last < limit->period_ms) || !limit->last_ms.compare_exchange_strong(last, now)) {
        limit->held.fetch_add(1);
        return false;
    }
    *held = limit->held.exchange(0);
    return true;
}

void syslog_limited(LineLimit* limit, const char* prefix, const char* text)
{
    uint32_t held = 0;
    if (!line_passes(limit, &held))
        return;
    if (held)
        syslog(LOG_NOTICE, "%s%s (%u more held back)", prefix, text, static_cast<unsigned>(held));
    else
        syslog(LOG_NOTICE, "%s%s", prefix, text);
}

} // namespace

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

void line_limit_reset(LineLimit* limit, uint32_t period_ms)
{
    limit->period_ms = period_ms;
    limit->last_ms = 0;
    limit->held = 0;
}

void syslog_notice_limited(LineLimit* limit, const char* text) { syslog_limited(limit, "(notice) ", text); }

void debug_only_limited(LineLimit* limit, const char* text)
{
    if (watch.settings.debug)
        syslog_limited(limit, "(debug) ", text);
}
