// Unit tests log to standard error, never to a log file of the machine.
#include "log.h"

namespace {

struct LogToStderr {
    LogToStderr() { log_set_output(LOG_OUT_STDERR); }
} log_to_stderr;

} // namespace
