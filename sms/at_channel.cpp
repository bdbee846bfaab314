#include "at_channel.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include "brenlow_state.h"
#include "log.h"
#include "shown_text.h"
#include "sms_status.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "at_channel.cpp";

namespace {

// Pause between the modem write and the read, so the echo has begun to arrive.
constexpr useconds_t AT_ANSWER_PAUSE_US = 400000;
// Time a modem takes to leave PDU entry after an ESC and answer it.
constexpr useconds_t AT_CANCEL_PAUSE_US = 500000;
// Once the 1-second select budget is spent, polls are spaced out by this
// much so a wait-full read does not spin on the CPU until its deadline.
constexpr useconds_t AT_IDLE_POLL_US = 20000;

} // namespace

int at_write(int fd, const char* cmd)
{
    int len = static_cast<int>(strlen(cmd));
    log_print(LOG_DEBUG, "[%s %d] Debug： cmd: %s,len=%d", LOG_UNIT, __LINE__, Shown(cmd).c_str(), len);
    if (write(fd, cmd, len) < 0) {
        log_print(LOG_DEBUG, "[%s %d] Debug： write device  error,fd=%d", LOG_UNIT, __LINE__, fd);
        // A port that refuses writes is gone; the batch must not be spent on it.
        brenlow.modem_lost = true;
        return -1;
    }
    return 1;
}

int read_datas(int fd, char* buffer, int timeout, int wait_mode)
{
    memset(buffer, 0, AT_RESPONSE_SIZE);
    int total = 0;
    time_t start = time(nullptr);
    // One budget for the whole call: select leaves the remainder in it.
    struct timeval budget = {1, 0};
    do {
        fd_set readable;
        FD_ZERO(&readable);
        bool waitable = fd >= 0 && fd < FD_SETSIZE;
        if (waitable)
            FD_SET(fd, &readable);
        int ready = waitable ? select(fd + 1, &readable, nullptr, nullptr, &budget) : -1;
        if (ready < 0) {
            perror("select()");
            break;
        }
        bool got = false;
        if (ready > 0) {
            int room = AT_RESPONSE_SIZE - 1 - total;
            ssize_t n = room > 0 ? read(fd, buffer + total, room) : 0;
            if (n > 0) {
                total += static_cast<int>(n);
                got = true;
            }
            log_print(LOG_DEBUG, "[%s %d] Debug： read_datas:%d,%s", LOG_UNIT, __LINE__, static_cast<int>(n),
                      Shown(buffer).c_str());
        } else if (total > 0 && wait_mode == 0) {
            break;
        }
        // A full buffer, a hung-up line or a spent budget makes select return at
        // once; pausing keeps the rest of the window from spinning.
        if (!got && (ready > 0 || (budget.tv_sec == 0 && budget.tv_usec == 0)))
            usleep(AT_IDLE_POLL_US);
    } while (time(nullptr) - start < timeout);
    return 1;
}

int at_command(int fd, const char* cmd, char* response, int timeout, int wait_mode)
{
    if (cmd && at_write(fd, cmd) < 0) {
        log_print(LOG_DEBUG, "[%s %d] Debug： write error", LOG_UNIT, __LINE__);
        return 1;
    }
    usleep(AT_ANSWER_PAUSE_US);
    response[0] = '\0';
    read_datas(fd, response, timeout, wait_mode);
    status_note_modem_answer(response);
    log_print(LOG_DEBUG, "[%s %d] Debug： response: %s", LOG_UNIT, __LINE__, Shown(response).c_str());
    return 0;
}

int str_contains(const char* text, const char* pattern)
{
    return strstr(text, pattern) ? 1 : 0;
}

bool hex_only(const char* text, int length)
{
    if (length <= 0)
        return false;
    for (int i = 0; i < length; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

void cancel_pending_submission(int fd)
{
    static const char escape = 0x1B;
    if (write(fd, &escape, 1) != 1)
        log_print(LOG_DEBUG, "[%s %d] Debug： write device  error,fd=%d", LOG_UNIT, __LINE__, fd);
    usleep(AT_CANCEL_PAUSE_US);
    tcflush(fd, TCIFLUSH);
}
