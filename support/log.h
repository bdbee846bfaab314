// Leveled logger shared by every daemon but the tunnel watchdog.
#pragma once

#include <pthread.h>

enum {
    LOG_ERROR = 1,
    LOG_WARNING = 2,
    LOG_INFO = 3,
    LOG_TRACE = 4,
    LOG_DEBUG = 5,
};

enum {
    LOG_OUT_FILE = 0,
    LOG_OUT_STDOUT = 1,
    LOG_OUT_STDERR = 2,
};

// A log file at or past this size moves to the rotation path after the write.
constexpr long LOG_ROTATE_SIZE = 200001;
// Formatted message of one call; longer messages are cut.
constexpr int LOG_MESSAGE_SIZE = 16000;
// Log file path and rotation path.
constexpr int LOG_PATH_SIZE = 64;

void log_print(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void log_set_level(int level);
void log_set_output(int selector);
// Also deletes the file, so each start begins with an empty log.
void log_set_file(const char* path);
int log_get_level();
int log_get_output();

extern pthread_mutex_t log_mutex;
int log_mutex_init();
int log_mutex_destroy();
int log_lock(pthread_mutex_t* mutex);
int log_unlock(pthread_mutex_t* mutex);

// Logs format after the "[unit line] " prefix. Each source file declares its
// constexpr LOG_UNIT once, so a file keeps its log lines when it is renamed:
// stored_pdu.cpp, gsm_submit.cpp, cdma_text.cpp and cdma_encode.cpp keep the
// unit their lines carried before their code moved there.
#define LOG(level, format, ...) log_print(level, "[%s %d] " format, LOG_UNIT, __LINE__, ##__VA_ARGS__)
