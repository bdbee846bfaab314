#include "log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <sys/time.h>
#include <time.h>

#include "own_file.h"
#include "paths.h"

pthread_mutex_t log_mutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

// Process-wide logger state; the buffers are shared and used only under log_mutex.
struct LoggerState {
    std::atomic<int> level{LOG_INFO};
    int output = LOG_OUT_FILE;
    char file[LOG_PATH_SIZE] = "/tmp/myLog1.log";
    char rotation[LOG_PATH_SIZE] = "/tmp/myLog2.log";
    char message[LOG_MESSAGE_SIZE];
};

LoggerState logger;

void write_to_file(const char* date, const char* clock, const char* stamp)
{
    RootedPath path(logger.file);
    FILE* f = fopen_own(path.c_str(), "a");
    if (!f)
        return;
    fprintf(f, "%s %s.%s %s\n", date, clock, stamp, logger.message);
    long position = ftell(f);
    fclose(f);
    if (position < LOG_ROTATE_SIZE)
        return;
    RootedPath rotation(logger.rotation);
    if (rename(path.c_str(), rotation.c_str()) != 0) {
        remove(rotation.c_str());
        rename(path.c_str(), rotation.c_str());
    }
}

} // namespace

void log_print(int level, const char* format, ...)
{
    // Filter before the lock so suppressed trace calls in hot paths cost one comparison.
    if (level > logger.level.load(std::memory_order_relaxed))
        return;
    pthread_mutex_lock(&log_mutex);
    if (!format || !format[0]) {
        pthread_mutex_unlock(&log_mutex);
        return;
    }
    va_list args;
    va_start(args, format);
    vsnprintf(logger.message, sizeof logger.message, format, args);
    va_end(args);

    struct timeval now;
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    struct tm local;
    localtime_r(&seconds, &local);
    char date[40];
    char clock[40];
    char stamp[24];
    snprintf(date, sizeof date, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    snprintf(clock, sizeof clock, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    snprintf(stamp, sizeof stamp, "%03d,T%d", static_cast<int>(now.tv_usec / 1000), logger.output);

    if (logger.output == LOG_OUT_STDOUT)
        printf("%s %s.%s %s\n", date, clock, stamp, logger.message);
    else if (logger.output == LOG_OUT_STDERR)
        fprintf(stderr, "%s %s.%s %s\n", date, clock, stamp, logger.message);
    else
        write_to_file(date, clock, stamp);
    pthread_mutex_unlock(&log_mutex);
}

void log_set_level(int level)
{
    logger.level.store(level, std::memory_order_relaxed);
}

int log_get_level()
{
    return logger.level.load(std::memory_order_relaxed);
}

void log_set_output(int selector)
{
    logger.output = selector;
}

int log_get_output()
{
    return logger.output;
}

void log_set_file(const char* path)
{
    snprintf(logger.file, sizeof logger.file, "%s", path);
    snprintf(logger.rotation, sizeof logger.rotation, "%s2", path);
    remove(RootedPath(logger.file).c_str());
}

int log_mutex_init()
{
    return pthread_mutex_init(&log_mutex, nullptr);
}

int log_mutex_destroy()
{
    return pthread_mutex_destroy(&log_mutex);
}

int log_lock(pthread_mutex_t* mutex)
{
    return pthread_mutex_lock(mutex);
}

int log_unlock(pthread_mutex_t* mutex)
{
    return pthread_mutex_unlock(mutex);
}
