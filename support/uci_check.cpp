#include "uci_check.h"

#include <cstdio>
#include <cstring>
#include <sys/wait.h>

#include "shell_quote.h"
#include "text.h"

namespace {

// "uci get " plus the quoted package name and the redirection.
constexpr int CHECK_COMMAND_SIZE = 128;
// A package name as uci takes it, quoted for the shell.
constexpr int QUOTED_PACKAGE_SIZE = 80;

} // namespace

bool uci_package_refused(const char* package, char* reason, int size)
{
    char quoted[QUOTED_PACKAGE_SIZE];
    if (shell_quote(quoted, sizeof quoted, package) < 0)
        return false;
    // A package alone prints nothing when it reads; the complaint comes on
    // standard error, so it is taken in with the output.
    char cmd[CHECK_COMMAND_SIZE];
    snprintf(cmd, sizeof cmd, "uci get %s 2>&1", quoted);
    FILE* pipe = popen(cmd, "r");
    if (!pipe)
        return false;
    char line[UCI_REFUSAL_SIZE] = {};
    if (fgets(line, sizeof line, pipe))
        trim_newline(line, sizeof line);
    // Read to the end so uci never meets a closed pipe.
    char rest[64];
    while (fgets(rest, sizeof rest, pipe)) {
    }
    int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 1)
        return false;
    const char* message = strncmp(line, "uci: ", 5) == 0 ? line + 5 : line;
    if (strncmp(message, "Parse error", 11) != 0)
        return false;
    snprintf(reason, size, "%s", message);
    return true;
}
