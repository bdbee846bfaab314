#include "spool_batch.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "outbox_files.h"
#include "own_file.h"
#include "text.h"
#include "unique_fd.h"

namespace {

// The cursor file: three numbers and the carry in hex.
constexpr int CURSOR_TEXT_SIZE = 2 * SPOOL_TEXT_LINE_SIZE + 64;

bool is_hex(char c)
{
    return isxdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

int format_cursor(const BatchCursor& cur, char* out, int size)
{
    static const char digits[] = "0123456789ABCDEF";
    int n = snprintf(out, size, "%llu %llu %lld %d ", cur.ino, cur.id, cur.offset, cur.cut ? 1 : 0);
    if (n < 0 || n + 2 * cur.carry_len + 3 > size)
        return -1;
    for (int i = 0; i < cur.carry_len; ++i) {
        auto byte = static_cast<unsigned char>(cur.carry[i]);
        out[n++] = digits[byte >> 4];
        out[n++] = digits[byte & 15];
    }
    if (cur.carry_len == 0)
        out[n++] = '-';
    out[n++] = '\n';
    out[n] = '\0';
    return n;
}

bool parse_cursor(const char* text, BatchCursor* cur)
{
    memset(cur, 0, sizeof *cur);
    char* end;
    errno = 0;
    cur->ino = strtoull(text, &end, 10);
    bool ok = end != text && *end == ' ';
    const char* p = end;
    cur->id = ok ? strtoull(p, &end, 10) : 0;
    ok = ok && end != p && *end == ' ';
    p = end;
    cur->offset = ok ? strtoll(p, &end, 10) : -1;
    ok = ok && end != p && *end == ' ' && cur->offset >= 0 && errno == 0;
    ok = ok && (end[1] == '0' || end[1] == '1') && end[2] == ' ';
    if (ok) {
        cur->cut = end[1] == '1';
        p = end + 3;
        if (*p == '-') {
            ++p;
        } else {
            while (cur->carry_len < SPOOL_TEXT_LINE_SIZE - 1 && is_hex(p[0]) && is_hex(p[1])) {
                cur->carry[cur->carry_len++] = static_cast<char>(hex_digit_value(p[0]) << 4 | hex_digit_value(p[1]));
                p += 2;
            }
        }
        ok = *p == '\n' || *p == '\0';
    }
    if (!ok)
        memset(cur, 0, sizeof *cur);
    return ok;
}

void load_cursor(const char* rooted, BatchCursor* cur)
{
    memset(cur, 0, sizeof *cur);
    set_aside_unless_regular(rooted);
    struct stat st;
    UniqueFd fd(open_regular(rooted, O_RDONLY, &st));
    if (!fd.valid())
        return;
    char text[CURSOR_TEXT_SIZE];
    ssize_t n = read(fd.get(), text, sizeof text - 1);
    text[n > 0 ? n : 0] = '\0';
    parse_cursor(text, cur);
}

int save_cursor(const char* rooted, const char* rooted_temp, const BatchCursor& cur)
{
    char text[CURSOR_TEXT_SIZE];
    int n = format_cursor(cur, text, sizeof text);
    // A directory planted at the temporary name would stop every save.
    set_aside_unless_regular(rooted_temp);
    return n < 0 ? -1 : replace_own_file(rooted, rooted_temp, text, n);
}

LineRead read_batch_line(FILE* batch, const BatchCursor& cur, int size, BatchLine* line)
{
    int keep = size - 1;
    line->len = cur.carry_len < keep ? cur.carry_len : keep;
    memcpy(line->text, cur.carry, line->len);
    line->cut = cur.cut || cur.carry_len > keep;
    int c;
    while ((c = getc_unlocked(batch)) != EOF) {
        if (c == '\n' && line->len < keep)
            line->text[line->len++] = '\n';
        if (c == '\n')
            break;
        if (line->len < keep)
            line->text[line->len++] = static_cast<char>(c);
        else
            line->cut = true;
    }
    line->text[line->len] = '\0';
    line->end = ftello(batch);
    if (c == '\n')
        return LineRead::Whole;
    return line->len == 0 ? LineRead::End : LineRead::Tail;
}
