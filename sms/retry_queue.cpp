#include "retry_queue.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "outbox_files.h"
#include "own_file.h"
#include "unique_fd.h"

namespace {

// A queue file with this many finished entries, more than it has waiting
// ones, is rewritten without them.
constexpr int RETRY_COMPACT_MIN = 32;
// Widest attempts count the front holds.
constexpr int RETRY_ATTEMPTS_SHOWN = 9999;
// Where each field of the front sits, and its width.
constexpr int RETRY_ATTEMPTS_AT = 2;
constexpr int RETRY_ATTEMPTS_WIDTH = 4;
constexpr int RETRY_FIRST_AT = 7;
constexpr int RETRY_NEXT_AT = 19;
constexpr int RETRY_TIME_WIDTH = 11;
constexpr int RETRY_FLAG_AT = 31;
constexpr int RETRY_ANSWER_AT = 33;
static_assert(RETRY_ANSWER_AT + RETRY_ANSWER_WIDTH + 1 == RETRY_HEADER_LEN, "the answer ends the front");

// A right-aligned decimal field of the front: blanks, then digits only.
bool fixed_number(const char* text, int at, int width, long long* out)
{
    int i = 0;
    while (i < width - 1 && text[at + i] == ' ')
        ++i;
    *out = 0;
    for (; i < width; ++i) {
        char c = text[at + i];
        if (c < '0' || c > '9')
            return false;
        *out = *out * 10 + (c - '0');
    }
    return text[at + width] == ' ';
}

// Length of the line without its newline.
int line_body(const char* line)
{
    int len = static_cast<int>(strlen(line));
    return len > 0 && line[len - 1] == '\n' ? len - 1 : len;
}

// Rewrites a few header bytes in place; unlike write_all, a short write is a failure.
int write_at(int fd, const char* data, int len, off_t at)
{
    return pwrite(fd, data, len, at) == len ? 0 : -1;
}

void compact(FILE* queue, const char* rooted, const char* rooted_temp)
{
    set_aside_unless_regular(rooted_temp);
    FILE* out = create_temp_own(rooted_temp);
    if (!out)
        return;
    bool ok = fseeko(queue, 0, SEEK_SET) == 0;
    char text[RETRY_ENTRY_SIZE + 2];
    RetryEntry entry;
    while (ok && fgets(text, sizeof text, queue)) {
        if (parse_retry_entry(text, &entry) && !entry.done)
            ok = fputs(text, out) >= 0;
    }
    ok = fclose(out) == 0 && ok;
    if (!ok || rename(rooted_temp, rooted) != 0)
        unlink(rooted_temp);
}

} // namespace

int format_retry_header(const RetryEntry& e, char* out, int size)
{
    int attempts = e.attempts < RETRY_ATTEMPTS_SHOWN ? e.attempts : RETRY_ATTEMPTS_SHOWN;
    int n = snprintf(out, size, "%c %4d %11lld %11lld %c %-*.*s\t", e.done ? 'x' : 'w', attempts, e.first, e.next,
                     e.newline ? 'n' : '-', RETRY_ANSWER_WIDTH, RETRY_ANSWER_WIDTH, e.answer);
    return n == RETRY_HEADER_LEN ? n : -1;
}

int format_retry_entry(const RetryEntry& e, char* out, int size)
{
    int n = format_retry_header(e, out, size);
    if (n < 0)
        return -1;
    int m = snprintf(out + n, size - n, "%llu:%lld\t%.*s\n", e.origin_id, e.origin_end, line_body(e.line), e.line);
    return m < 0 || m >= size - n ? -1 : n + m;
}

bool parse_retry_entry(const char* text, RetryEntry* e)
{
    memset(e, 0, sizeof *e);
    if (strnlen(text, RETRY_HEADER_LEN) < static_cast<size_t>(RETRY_HEADER_LEN))
        return false;
    long long attempts = 0;
    char flag = text[RETRY_FLAG_AT];
    if (text[RETRY_HEADER_LEN - 1] != '\t' || (text[0] != 'w' && text[0] != 'x') || text[1] != ' ' ||
        !fixed_number(text, RETRY_ATTEMPTS_AT, RETRY_ATTEMPTS_WIDTH, &attempts) ||
        !fixed_number(text, RETRY_FIRST_AT, RETRY_TIME_WIDTH, &e->first) ||
        !fixed_number(text, RETRY_NEXT_AT, RETRY_TIME_WIDTH, &e->next) || (flag != 'n' && flag != '-') ||
        text[RETRY_ANSWER_AT - 1] != ' ')
        return false;
    e->attempts = static_cast<int>(attempts);
    e->done = text[0] == 'x';
    e->newline = flag == 'n';
    int answer_len = RETRY_HEADER_LEN - 1 - RETRY_ANSWER_AT;
    while (answer_len > 0 && text[RETRY_ANSWER_AT + answer_len - 1] == ' ')
        --answer_len;
    memcpy(e->answer, text + RETRY_ANSWER_AT, answer_len);
    const char* p = text + RETRY_HEADER_LEN;
    char* end;
    e->origin_id = strtoull(p, &end, 10);
    if (end == p || *end != ':')
        return false;
    p = end + 1;
    e->origin_end = strtoll(p, &end, 10);
    if (end == p || *end != '\t')
        return false;
    p = end + 1;
    size_t len = strcspn(p, "\n");
    // Without its newline the entry was cut short.
    if (p[len] != '\n' || len + 2 > sizeof e->line)
        return false;
    memcpy(e->line, p, len);
    if (e->newline)
        e->line[len] = '\n';
    return true;
}

int retry_append(const char* rooted, const RetryEntry& e)
{
    char text[RETRY_ENTRY_SIZE + 2];
    // Room for a newline in front, should the last entry have been cut short.
    int n = format_retry_entry(e, text + 1, sizeof text - 1);
    if (n < 0)
        return -1;
    set_aside_unless_regular(rooted);
    struct stat st;
    UniqueFd fd(open_regular(rooted, O_RDWR | O_CREAT | O_APPEND, &st));
    if (!fd.valid())
        return -1;
    char last = '\n';
    if (st.st_size > 0 && pread(fd.get(), &last, 1, st.st_size - 1) != 1)
        last = '\n';
    text[0] = '\n';
    const char* from = last == '\n' ? text + 1 : text;
    int len = last == '\n' ? n : n + 1;
    return write(fd.get(), from, len) == len ? 0 : -1;
}

bool retry_last_origin(const char* rooted, unsigned long long* id, long long* end)
{
    struct stat st;
    UniqueFd fd(open_regular(rooted, O_RDONLY, &st));
    if (!fd.valid() || st.st_size == 0)
        return false;
    char text[RETRY_ENTRY_SIZE + 2];
    off_t len = st.st_size < static_cast<off_t>(sizeof text - 1) ? st.st_size : sizeof text - 1;
    if (pread(fd.get(), text, len, st.st_size - len) != len)
        return false;
    text[len] = '\0';
    // The last entry starts after the newline before its own.
    int at = static_cast<int>(len) - 1;
    while (at > 0 && text[at - 1] != '\n')
        --at;
    if (at == 0 && st.st_size > len)
        return false;
    RetryEntry entry;
    if (!parse_retry_entry(text + at, &entry))
        return false;
    *id = entry.origin_id;
    *end = entry.origin_end;
    return true;
}

int retry_waiting(const char* rooted, void (*each)(const RetryEntry& entry, void* ctx), void* ctx)
{
    struct stat st;
    UniqueFd fd(open_regular(rooted, O_RDONLY, &st));
    if (!fd.valid())
        return 0;
    UniqueFile queue(fdopen(dup(fd.get()), "r"));
    if (!queue)
        return 0;
    int waiting = 0;
    char text[RETRY_ENTRY_SIZE + 2];
    RetryEntry entry;
    while (fgets(text, sizeof text, queue.get())) {
        if (parse_retry_entry(text, &entry) && !entry.done) {
            each(entry, ctx);
            ++waiting;
        }
    }
    return waiting;
}

long long retry_pass(const char* rooted, const char* rooted_temp, long long now, RetryStep (*step)(RetryEntry* entry))
{
    if (set_aside_unless_regular(rooted) != OutboxPath::Regular)
        return 0;
    struct stat st;
    UniqueFd fd(open_regular(rooted, O_RDWR, &st));
    if (!fd.valid())
        return 0;
    UniqueFile queue(fdopen(dup(fd.get()), "r"));
    if (!queue)
        return 0;
    long long earliest = 0;
    int waiting = 0;
    int finished = 0;
    bool stopped = false;
    char text[RETRY_ENTRY_SIZE + 2];
    RetryEntry entry;
    for (off_t at = 0; fgets(text, sizeof text, queue.get()); at = ftello(queue.get())) {
        if (!parse_retry_entry(text, &entry) || entry.done) {
            ++finished;
            continue;
        }
        if (!stopped && entry.next <= now) {
            RetryStep done = step(&entry);
            stopped = done == RetryStep::Stop;
            entry.done = done == RetryStep::Done;
            char front[RETRY_HEADER_LEN + 1];
            if (!stopped && format_retry_header(entry, front, sizeof front) == RETRY_HEADER_LEN)
                write_at(fd.get(), front, RETRY_HEADER_LEN, at);
        }
        if (entry.done) {
            ++finished;
            continue;
        }
        ++waiting;
        if (earliest == 0 || entry.next < earliest)
            earliest = entry.next;
    }
    if (waiting == 0)
        unlink(rooted);
    else if (finished >= RETRY_COMPACT_MIN && finished > waiting)
        compact(queue.get(), rooted, rooted_temp);
    return earliest;
}
