#include "uci_batch.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files.h"
#include "unique_fd.h"

extern char** environ;

namespace {

// Longest command line, as the one-off set commands allow.
constexpr int LINE_SIZE = 256;

__attribute__((format(printf, 2, 3))) void add_line(UciBatch& batch, const char* format, ...)
{
    char line[LINE_SIZE];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0)
        return;
    // Cut like the one-off commands, but always ended by its newline.
    if (n > LINE_SIZE - 2)
        n = LINE_SIZE - 2;
    line[n++] = '\n';
    // A full batch runs first, so no command is dropped.
    if (batch.length + n > UCI_BATCH_TEXT_SIZE)
        uci_batch_run(batch);
    for (int i = 0; i < n; ++i)
        batch.text[batch.length++] = line[i];
}

} // namespace

void uci_batch_set_int(UciBatch& batch, const char* package, const char* section, const char* option, int value)
{
    add_line(batch, "set %s.%s.%s=%d", package, section, option, value);
}

void uci_batch_set_ll(UciBatch& batch, const char* package, const char* section, const char* option,
                      long long value)
{
    add_line(batch, "set %s.%s.%s=%lld", package, section, option, value);
}

void uci_batch_set_str(UciBatch& batch, const char* package, const char* section, const char* option,
                       const char* text)
{
    add_line(batch, "set %s.%s.%s='%s'", package, section, option, text);
}

void uci_batch_commit(UciBatch& batch, const char* package)
{
    add_line(batch, "commit %s", package);
}

bool uci_batch_empty(const UciBatch& batch)
{
    return batch.length == 0;
}

int uci_batch_run(UciBatch& batch)
{
    if (batch.length == 0)
        return 0;
    int length = batch.length;
    batch.length = 0;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    UniqueFd read_end(ends[0]);
    UniqueFd write_end(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, read_end.get(), STDIN_FILENO);
    char uci[] = "uci";
    char quiet[] = "-q";
    char command[] = "batch";
    char* argv[] = {uci, quiet, command, nullptr};
    pid_t pid;
    int rc = posix_spawnp(&pid, uci, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    read_end.reset();
    // A uci that dies early must not take the daemon with it through SIGPIPE.
    struct sigaction ignore = {}, previous;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    write_all(write_end.get(), batch.text, static_cast<size_t>(length));
    write_end.reset();
    sigaction(SIGPIPE, &previous, nullptr);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}
