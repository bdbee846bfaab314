#include "registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "own_file.h"
#include "paths.h"
#include "unique_fd.h"

namespace {

constexpr const char* REGISTRY = "/tmp/keepalive_running";
constexpr const char* REGISTRY_TMP = "/tmp/keepalive_running_tmp";
// One registry line: a process id, a blank, a name of up to 255 characters.
constexpr int LINE_SIZE = 300;

struct RegistryLine {
    int pid;
    char name[REGISTRY_NAME_MAX + 1];
};

// A line that is not "%i %s" is no instance: it never matches and is kept as it is.
bool parse_line(const char* text, RegistryLine* line)
{
    return sscanf(text, "%i %255s", &line->pid, line->name) == 2;
}

// Index of the first matching line, or -1.
int find_line(FILE* f, const char* name, pid_t pid)
{
    char text[LINE_SIZE];
    RegistryLine line;
    for (int index = 0; fgets(text, sizeof text, f); ++index) {
        if (parse_line(text, &line) && (line.pid == pid || strcmp(line.name, name) == 0))
            return index;
    }
    return -1;
}

// Lines are copied as they were written: the other parties' lines stay theirs.
void copy_all_but(FILE* from, FILE* to, int skip)
{
    char text[LINE_SIZE];
    char last = '\n';
    for (int index = 0; fgets(text, sizeof text, from); ++index) {
        size_t length = strlen(text);
        if (index == skip || length == 0)
            continue;
        fputs(text, to);
        last = text[length - 1];
    }
    // A last line without its newline would be joined to the next line appended.
    if (last != '\n')
        fputc('\n', to);
}

// The registry for reading and appending, made empty when missing. Other
// programs write it and we run as root: only a regular file is used, never a
// link (O_NOFOLLOW) and never a FIFO, whose read would block the exit.
FILE* open_registry(const char* path)
{
    UniqueFd fd(open_own(path, O_RDWR | O_CREAT | O_APPEND | O_NONBLOCK));
    struct stat st;
    if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    FILE* f = fdopen(fd.get(), "a+");
    if (f)
        fd.release();
    return f;
}

int count_lines(const char* path)
{
    UniqueFile f(fopen_own(path, "r"));
    if (!f)
        return 0;
    int lines = 0;
    int c;
    int last = '\n';
    while ((c = fgetc(f.get())) != EOF) {
        if (c == '\n')
            ++lines;
        last = c;
    }
    return last == '\n' ? lines : lines + 1;
}

} // namespace

void registry_remove_line(const char* name, pid_t pid)
{
    RootedPath registry(REGISTRY);
    RootedPath scratch(REGISTRY_TMP);
    UniqueFile f(open_registry(registry.c_str()));
    if (!f)
        return;
    rewind(f.get());
    int match = find_line(f.get(), name, pid);
    if (match < 0)
        return;
    {
        // Made anew and exclusively: a link planted at the scratch name is removed, not followed.
        UniqueFile tmp(create_temp_own(scratch.c_str()));
        if (!tmp)
            return;
        rewind(f.get());
        copy_all_but(f.get(), tmp.get(), match);
        // A scratch copy that could not be written whole must not replace the registry.
        if (tmp.close_now() != 0) {
            remove(scratch.c_str());
            return;
        }
    }
    f.close_now();
    // rename replaces the registry in one step: no reader sees it missing.
    if (rename(scratch.c_str(), registry.c_str()) != 0)
        return;
    if (count_lines(registry.c_str()) == 0)
        remove(registry.c_str());
}

void registry_remove(const char* name) { registry_remove_line(name, getpid()); }
