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

constexpr char LOG_UNIT[] = "at_channel.cpp";

namespace {

// Pause between the modem write and the read, so the echo has begun to arrive.
constexpr useconds_t AT_ANSWER_PAUSE_US = 400000;
// Time a modem takes to leave PDU entry after an ESC and answer it.
constexpr useconds_t AT_CANCEL_PAUSE_US = 500000;
// Once the 1-second select budget is spent, polls are spaced out by this
// much so a wait-full read does not spin on the CPU until its deadline.
constexpr useconds_t AT_IDLE_POLL_US = 20000;
// Readiness budget of one read_datas call, shared by all its waits.
constexpr long long AT_READ_BUDGET_MS = 1000;
// Quiet time after an answer that looks complete before it is taken as
// whole, so a line close behind it (a later prompt, a report) still joins it.
constexpr long long AT_SETTLE_MS = 100;

// One line of an answer that ends an exchange: its text, whether a longer
// line starting with it counts too, and what it means.
struct ResultLine {
    const char* text;
    bool prefix;
    AtResult result;
};
constexpr ResultLine FINAL_LINES[] = {
    {"OK", false, AtResult::Ok},
    {"ERROR", false, AtResult::Error},
    {"+CMS ERROR:", true, AtResult::Error},
    {"+CME ERROR:", true, AtResult::Error},
};
constexpr ResultLine CDMA_REPORT_LINES[] = {
    {"^HCMGSS:", true, AtResult::Ok},
    {"^HCMGSF:", true, AtResult::Error},
    {"ERROR", false, AtResult::Error},
    {"+CMS ERROR:", true, AtResult::Error},
    {"+CME ERROR:", true, AtResult::Error},
};

bool line_is(const char* line, size_t len, const ResultLine& r)
{
    size_t n = strlen(r.text);
    return (len == n || (r.prefix && len > n)) && memcmp(line, r.text, n) == 0;
}

// The last whole line (ended by CR or LF) that one of lines names; the
// line itself into out when out is given.
template <size_t N>
AtResult last_result(const char* text, const ResultLine (&lines)[N], char* out, size_t size)
{
    AtResult found = AtResult::None;
    const char* line = text;
    for (const char* p = text; *p; ++p) {
        if (*p != '\r' && *p != '\n')
            continue;
        size_t len = static_cast<size_t>(p - line);
        for (const ResultLine& r : lines) {
            if (len > 0 && line_is(line, len, r)) {
                found = r.result;
                if (out && size > 0)
                    snprintf(out, size, "%.*s", static_cast<int>(len), line);
                break;
            }
        }
        line = p + 1;
    }
    return found;
}

long long monotonic_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

enum class ReadStep { Data, Quiet, Stuck, Failed };

// Waits up to wait_ms for the modem and appends what it sent to buffer.
// Stuck: the line was readable but gave nothing (a full buffer, a hang-up).
ReadStep read_more(int fd, char* buffer, int* total, long long wait_ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    bool waitable = fd >= 0 && fd < FD_SETSIZE;
    if (waitable)
        FD_SET(fd, &readable);
    struct timeval wait = {static_cast<time_t>(wait_ms / 1000), static_cast<suseconds_t>(wait_ms % 1000 * 1000)};
    int ready = waitable ? select(fd + 1, &readable, nullptr, nullptr, &wait) : -1;
    if (ready < 0) {
        perror("select()");
        return ReadStep::Failed;
    }
    if (ready == 0)
        return ReadStep::Quiet;
    int room = AT_RESPONSE_SIZE - 1 - *total;
    ssize_t n = room > 0 ? read(fd, buffer + *total, room) : 0;
    if (n > 0)
        *total += static_cast<int>(n);
    LOG(LOG_DEBUG, "Debug： read_datas:%d,%s", static_cast<int>(n), Shown(buffer).c_str());
    if (n > 0)
        return ReadStep::Data;
    // Pausing keeps a line that stays readable from spinning the CPU.
    usleep(AT_IDLE_POLL_US);
    return ReadStep::Stuck;
}

bool until_final(const char* text)
{
    return at_final_result(text, nullptr, 0) != AtResult::None;
}

bool until_prompt(const char* text)
{
    return prompt_waiting(text) || until_final(text);
}

bool until_report(const char* text)
{
    return cdma_submit_report(text, nullptr, 0) != AtResult::None;
}

// Reads until done says the answer is complete and the line has been quiet
// for AT_SETTLE_MS, or until timeout seconds have passed.
void read_until(int fd, char* buffer, int timeout, bool (*done)(const char*))
{
    memset(buffer, 0, AT_RESPONSE_SIZE);
    int total = 0;
    long long deadline = monotonic_ms() + timeout * 1000LL;
    for (long long left; (left = deadline - monotonic_ms()) > 0;) {
        ReadStep step = read_more(fd, buffer, &total, left < AT_SETTLE_MS ? left : AT_SETTLE_MS);
        if (step == ReadStep::Failed || total >= AT_RESPONSE_SIZE - 1)
            break;
        if (step == ReadStep::Quiet && total > 0 && done(buffer))
            break;
    }
}

} // namespace

int at_write(int fd, const char* cmd)
{
    int len = static_cast<int>(strlen(cmd));
    LOG(LOG_DEBUG, "Debug： cmd: %s,len=%d", Shown(cmd).c_str(), len);
    if (write(fd, cmd, len) < 0) {
        LOG(LOG_DEBUG, "Debug： write device  error,fd=%d", fd);
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
    // One budget for all the waits of the call, as select leaves the rest
    // of its time-out.
    long long budget_end = monotonic_ms() + AT_READ_BUDGET_MS;
    do {
        long long budget = budget_end - monotonic_ms();
        if (budget < 0)
            budget = 0;
        ReadStep step = read_more(fd, buffer, &total, budget);
        if (step == ReadStep::Failed)
            break;
        // A modem that gave its final result has said all it will.
        if (step == ReadStep::Data && wait_mode == AT_QUIET_STOP && until_final(buffer))
            break;
        if (step != ReadStep::Quiet)
            continue;
        if (total > 0 && wait_mode == AT_QUIET_STOP)
            break;
        // A spent budget makes select return at once: pause instead of spinning.
        if (budget == 0)
            usleep(AT_IDLE_POLL_US);
    } while (time(nullptr) - start < timeout);
    return 1;
}

int at_command(int fd, const char* cmd, char* response, int timeout, int wait_mode)
{
    if (cmd && at_write(fd, cmd) < 0) {
        LOG(LOG_DEBUG, "Debug： write error");
        return 1;
    }
    if (wait_mode >= AT_UNTIL_FINAL) {
        bool (*done)(const char*) = wait_mode == AT_UNTIL_PROMPT   ? until_prompt
                                    : wait_mode == AT_UNTIL_REPORT ? until_report
                                                                   : until_final;
        read_until(fd, response, timeout, done);
    } else {
        usleep(AT_ANSWER_PAUSE_US);
        response[0] = '\0';
        read_datas(fd, response, timeout, wait_mode);
    }
    status_note_modem_answer(response);
    LOG(LOG_DEBUG, "Debug： response: %s", Shown(response).c_str());
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
    if (write(fd, &escape, 1) != 1) {
        LOG(LOG_DEBUG, "Debug： write device  error,fd=%d", fd);
        // Gone while we waited for its prompt: the message stays for the next start.
        brenlow.modem_lost = true;
    }
    usleep(AT_CANCEL_PAUSE_US);
    tcflush(fd, TCIFLUSH);
}

void drop_stale_input(int fd)
{
    tcflush(fd, TCIFLUSH);
}

AtResult at_final_result(const char* text, char* line, size_t size)
{
    return last_result(text, FINAL_LINES, line, size);
}

AtResult cdma_submit_report(const char* text, char* line, size_t size)
{
    return last_result(text, CDMA_REPORT_LINES, line, size);
}

const char* find_line(const char* text, const char* prefix)
{
    size_t n = strlen(prefix);
    for (const char* line = text; *line;) {
        if (strncmp(line, prefix, n) == 0)
            return line;
        const char* end = strpbrk(line, "\r\n");
        if (!end)
            break;
        line = end + 1;
    }
    return nullptr;
}

bool prompt_waiting(const char* text)
{
    size_t len = strlen(text);
    return len >= 2 && text[len - 2] == '>' && text[len - 1] == ' ';
}
