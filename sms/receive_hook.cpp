#include "receive_hook.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "brenlow_state.h"
#include "log.h"
#include "shown_text.h"
#include "sms_concat.h"
#include "unique_fd.h"

constexpr char LOG_UNIT[] = "receive_hook.cpp";

extern char** environ;

namespace {

// Variables of the daemon's environment passed on; the rest are dropped.
constexpr int INHERITED_ENV_MAX = 60;
// Longest wait of one tending step, so an ended program is reaped soon.
constexpr long long TEND_STEP_MS = 200;
// Room for a variable's name and "=" in front of its value.
constexpr int ENV_NAME_ROOM = 16;

long long monotonic_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

void sleep_ms(long long ms)
{
    struct timespec pause = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000 * 1000000)};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

bool active(const HookRun& run)
{
    return run.pid > 0 || run.out >= 0;
}

void log_line(HookRun& run)
{
    run.line[run.line_len] = '\0';
    LOG(LOG_DEBUG, "Debug： onreceive: %s", Shown(run.line).c_str());
    run.line_len = 0;
}

void close_output(HookRun& run)
{
    if (run.line_len > 0)
        log_line(run);
    close(run.out);
    run.out = -1;
}

// Reads what the program wrote; its lines go to the log.
void drain(HookRun& run)
{
    char chunk[512];
    ssize_t n;
    while ((n = read(run.out, chunk, sizeof chunk)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] == '\n') {
                log_line(run);
                continue;
            }
            run.line[run.line_len++] = chunk[i];
            if (run.line_len == ONRECEIVE_LINE_SIZE - 1)
                log_line(run);
        }
    }
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        close_output(run);
}

void reap(HookRun& run)
{
    int status = 0;
    if (run.pid <= 0 || waitpid(run.pid, &status, WNOHANG) != run.pid)
        return;
    if (WIFEXITED(status))
        LOG(LOG_DEBUG, "Debug： onreceive %d ended with status %d", run.pid, WEXITSTATUS(status));
    else
        LOG(LOG_DEBUG, "Debug： onreceive %d ended by signal %d", run.pid, WTERMSIG(status));
    run.pid = 0;
}

// The whole process group goes: whatever the program started goes with it.
void kill_overdue(HookRun& run, long long now)
{
    if (run.deadline == 0 || now < run.deadline)
        return;
    LOG(LOG_WARNING, "Warning： onreceive %s still running after %d s, killed", Shown(brenlow.config.onreceive).c_str(),
        ONRECEIVE_LIMIT_S);
    kill(-run.group, SIGKILL);
    run.deadline = 0;
    // A descendant that left the group may hold the pipe: it is not waited for.
    if (run.out >= 0) {
        drain(run);
        if (run.out >= 0)
            close_output(run);
    }
}

// One wait of at most wait_ms for output of the running programs.
void tend_once(long long wait_ms)
{
    struct pollfd fds[ONRECEIVE_RUNS_MAX];
    HookRun* owners[ONRECEIVE_RUNS_MAX];
    int n = 0;
    for (HookRun& run : brenlow.hooks) {
        if (run.out >= 0) {
            fds[n] = {run.out, POLLIN, 0};
            owners[n++] = &run;
        }
    }
    if (poll(fds, n, static_cast<int>(wait_ms)) > 0)
        for (int i = 0; i < n; ++i)
            if (fds[i].revents)
                drain(*owners[i]);
    long long now = monotonic_ms();
    for (HookRun& run : brenlow.hooks) {
        if (!active(run))
            continue;
        reap(run);
        kill_overdue(run, now);
    }
}

bool any_active()
{
    for (const HookRun& run : brenlow.hooks)
        if (active(run))
            return true;
    return false;
}

// A free slot, waiting for one when all are taken: at worst until the
// oldest program is killed.
HookRun* free_slot()
{
    for (;;) {
        for (HookRun& run : brenlow.hooks)
            if (!active(run))
                return &run;
        tend_once(TEND_STEP_MS);
    }
}

// NAME=value into out; false when it does not fit (the value would be cut).
bool env_entry(char* out, size_t size, const char* name, const char* value)
{
    int n = snprintf(out, size, "%s=%s", name, value);
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool is_ours(const char* entry)
{
    static const char* const NAMES[] = {"SMS_SENDER=", "SMS_TIME=", "SMS_TEXT=", "SMS_INDEX="};
    for (const char* name : NAMES)
        if (strncmp(entry, name, strlen(name)) == 0)
            return true;
    return false;
}

} // namespace

void onreceive_start(const char* sender, const char* time, const char* text, int index)
{
    const char* program = get_sms_config()->onreceive;
    if (program[0] == '\0')
        return;
    // A path cut at the option's size would run another program.
    if (strlen(program) >= ONRECEIVE_PATH_SIZE - 1) {
        LOG(LOG_ERROR, "Error： onreceive path too long, not run: %s", Shown(program).c_str());
        return;
    }
    static char env_sender[ENV_NAME_ROOM + INBOX_SENDER_SIZE];
    static char env_time[ENV_NAME_ROOM + INBOX_STAMP_SIZE];
    static char env_text[ENV_NAME_ROOM + CONCAT_TEXT_SIZE];
    static char env_index[ENV_NAME_ROOM + 12];
    char number[12] = "";
    if (index >= 0)
        snprintf(number, sizeof number, "%d", index);
    if (!env_entry(env_sender, sizeof env_sender, "SMS_SENDER", sender) ||
        !env_entry(env_time, sizeof env_time, "SMS_TIME", time) ||
        !env_entry(env_text, sizeof env_text, "SMS_TEXT", text) ||
        !env_entry(env_index, sizeof env_index, "SMS_INDEX", number)) {
        LOG(LOG_ERROR, "Error： message from %s too long for onreceive, not run", Shown(sender).c_str());
        return;
    }
    char* envp[INHERITED_ENV_MAX + 5];
    int e = 0;
    for (char** v = environ; v && *v && e < INHERITED_ENV_MAX; ++v)
        if (!is_ours(*v))
            envp[e++] = *v;
    envp[e++] = env_sender;
    envp[e++] = env_time;
    envp[e++] = env_text;
    envp[e++] = env_index;
    envp[e] = nullptr;

    HookRun* run = free_slot();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        LOG(LOG_ERROR, "Error： onreceive not run: %s", strerror(errno));
        return;
    }
    UniqueFd read_end(ends[0]);
    UniqueFd write_end(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDERR_FILENO);
    // The modem line is the daemon's alone.
    if (brenlow.gsm_fd > STDERR_FILENO)
        posix_spawn_file_actions_addclose(&actions, brenlow.gsm_fd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program, &actions, &attr, argv, envp);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        LOG(LOG_ERROR, "Error： onreceive %s not started: %s", Shown(program).c_str(), strerror(rc));
        return;
    }
    write_end.reset();
    fcntl(read_end.get(), F_SETFL, fcntl(read_end.get(), F_GETFL) | O_NONBLOCK);
    *run = HookRun{};
    run->pid = pid;
    run->group = pid;
    run->out = read_end.release();
    run->deadline = monotonic_ms() + ONRECEIVE_LIMIT_S * 1000LL;
    LOG(LOG_DEBUG, "Debug： onreceive %s started for %s, pid %d", Shown(program).c_str(), Shown(sender).c_str(), pid);
}

void onreceive_tend(int wait_ms)
{
    long long end = monotonic_ms() + wait_ms;
    do {
        long long left = end - monotonic_ms();
        if (left < 0)
            left = 0;
        if (!any_active()) {
            sleep_ms(left);
            return;
        }
        tend_once(left < TEND_STEP_MS ? left : TEND_STEP_MS);
    } while (monotonic_ms() < end);
}
