// The store of held parts of long messages and its file.
#include "sms_concat.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "gsm_alphabet.h"
#include "gsm_pdu.h"
#include "log.h"
#include "paths.h"
#include "unique_fd.h"

constexpr char LOG_UNIT[] = "sms_concat.cpp";

namespace {

bool same_message(const ConcatPart& a, const ConcatPart& b)
{
    return a.ref == b.ref && a.total == b.total && strcmp(a.sender, b.sender) == 0;
}

int message_count(const ConcatStore* store)
{
    int messages = 0;
    for (int i = 0; i < store->count; i++) {
        bool first = true;
        for (int j = 0; j < i && first; j++)
            first = !same_message(store->parts[i], store->parts[j]);
        messages += first;
    }
    return messages;
}

// Joins every held part of the message of store->parts[at] in part order into
// out, and takes them out of the store.
void take_message(ConcatStore* store, int at, JoinedMessage* out)
{
    const ConcatPart key = store->parts[at];
    memset(out, 0, sizeof *out);
    snprintf(out->sender, sizeof out->sender, "%s", key.sender);
    out->total = key.total;
    int length = 0;
    int stamp_part = 0;
    for (int number = 1; number <= key.total; number++) {
        for (int i = 0; i < store->count; i++) {
            const ConcatPart& p = store->parts[i];
            if (!same_message(p, key) || p.part != number)
                continue;
            if (out->arrived_parts++ == 0 || p.part < stamp_part) {
                stamp_part = p.part;
                snprintf(out->stamp, sizeof out->stamp, "%s", p.stamp);
            }
            int room = static_cast<int>(sizeof out->text) - 1 - length;
            int n = utf8_cut(p.text, room);
            memcpy(out->text + length, p.text, n);
            length += n;
        }
    }
    out->text[length] = '\0';
    int kept = 0;
    for (int i = 0; i < store->count; i++)
        if (!same_message(store->parts[i], key))
            store->parts[kept++] = store->parts[i];
    store->count = kept;
}

// Hex of a text field; "-" for an empty one, so no field of a line is empty.
int put_hex_field(const char* text, int field, char* out, int size)
{
    int n = static_cast<int>(strnlen(text, field));
    if (n == 0)
        return snprintf(out, size, "-");
    if (2 * n + 1 > size)
        return -1;
    return octets_to_hex(reinterpret_cast<const uint8_t*>(text), n, out);
}

bool take_hex_field(const char*& at, char* field, int size)
{
    while (*at == ' ')
        at++;
    const char* end = at;
    while (*end && *end != ' ' && *end != '\n')
        end++;
    int chars = static_cast<int>(end - at);
    if (chars == 1 && *at == '-') {
        field[0] = '\0';
    } else {
        if (chars % 2 || chars / 2 >= size)
            return false;
        for (int i = 0; i < chars; i++)
            if (!((at[i] >= '0' && at[i] <= '9') || (at[i] >= 'A' && at[i] <= 'F')))
                return false;
        hex_to_octets(at, reinterpret_cast<uint8_t*>(field), chars);
        field[chars / 2] = '\0';
        // A zero octet would end the field early: not something we wrote.
        if (static_cast<int>(strlen(field)) != chars / 2)
            return false;
    }
    at = end;
    return chars > 0;
}

bool take_number(const char*& at, long long* value)
{
    char* end = nullptr;
    long long v = strtoll(at, &end, 10);
    if (end == at || (*end != ' '))
        return false;
    *value = v;
    at = end;
    return true;
}

bool header_valid(const ConcatPart* part)
{
    return part->total >= 1 && part->part >= 1 && part->part <= part->total;
}

} // namespace

long long concat_now()
{
    // The boot clock: steps of the wall clock (the first NTP answer after
    // boot) do not expire held parts, and the file goes with a reboot anyway.
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return ts.tv_sec;
}

ConcatAdd concat_add(ConcatStore* store, const ConcatPart* part, JoinedMessage* out)
{
    if (!header_valid(part)) {
        LOG(LOG_WARNING, "Warning： bad concatenation header from %s: part %d of %d, ref %d", part->sender, part->part,
            part->total, part->ref);
        return ConcatAdd::BadHeader;
    }
    int held = 0;
    int first_at = -1;
    for (int i = 0; i < store->count; i++) {
        if (!same_message(store->parts[i], *part))
            continue;
        if (store->parts[i].part == part->part) {
            LOG(LOG_WARNING, "Warning： repeated part %d of %d from %s, ref %d", part->part, part->total, part->sender,
                part->ref);
            return ConcatAdd::BadHeader;
        }
        if (first_at < 0)
            first_at = i;
        held++;
    }
    if (store->count >= CONCAT_PARTS_MAX)
        return ConcatAdd::BadHeader; // the caller makes room first; never write past the table
    store->parts[store->count++] = *part;
    if (held + 1 < part->total)
        return ConcatAdd::Held;
    take_message(store, first_at < 0 ? store->count - 1 : first_at, out);
    return ConcatAdd::Complete;
}

int concat_take_due(ConcatStore* store, long long now, const ConcatPart* incoming, JoinedMessage* out)
{
    if (store->count == 0)
        return 0;
    bool full = false;
    if (incoming) {
        bool known = false;
        for (int i = 0; i < store->count && !known; i++)
            known = same_message(store->parts[i], *incoming);
        full = store->count >= CONCAT_PARTS_MAX || (!known && message_count(store) >= CONCAT_MESSAGES_MAX);
    }
    // The oldest message by its first part; parts keep their arrival order.
    for (int i = 0; i < store->count; i++) {
        const ConcatPart& p = store->parts[i];
        bool expired = now - p.arrived >= CONCAT_TIMEOUT_SECONDS || p.arrived > now;
        if (expired || full) {
            take_message(store, i, out);
            return 1;
        }
    }
    return 0;
}

void concat_remove(ConcatStore* store, const ConcatPart* part)
{
    int kept = 0;
    for (int i = 0; i < store->count; i++) {
        const ConcatPart& p = store->parts[i];
        if (!(same_message(p, *part) && p.part == part->part))
            store->parts[kept++] = p;
    }
    store->count = kept;
}

int concat_format_line(const ConcatPart* part, char* out, int size)
{
    int at = snprintf(out, size, "%d %d %d %lld ", part->ref, part->total, part->part, part->arrived);
    const char* fields[3] = {part->sender, part->stamp, part->text};
    const int widths[3] = {INBOX_SENDER_SIZE, INBOX_STAMP_SIZE, GSM_TEXT_UTF8_SIZE};
    for (int f = 0; f < 3; f++) {
        if (at < 0 || at >= size)
            return -1;
        int n = put_hex_field(fields[f], widths[f], out + at, size - at);
        if (n < 0)
            return -1;
        at += n;
        if (at + 1 >= size)
            return -1;
        out[at++] = f < 2 ? ' ' : '\n';
        out[at] = '\0';
    }
    return at;
}

bool concat_parse_line(const char* line, ConcatPart* part)
{
    memset(part, 0, sizeof *part);
    const char* at = line;
    long long values[4];
    for (long long& v : values)
        if (!take_number(at, &v))
            return false;
    if (values[0] < 0 || values[0] > 0xFFFF || values[1] > 255 || values[2] > 255)
        return false;
    part->ref = static_cast<int>(values[0]);
    part->total = static_cast<int>(values[1]);
    part->part = static_cast<int>(values[2]);
    part->arrived = values[3];
    return take_hex_field(at, part->sender, sizeof part->sender) &&
           take_hex_field(at, part->stamp, sizeof part->stamp) && take_hex_field(at, part->text, sizeof part->text) &&
           header_valid(part);
}

void concat_load(ConcatStore* store, const char* path)
{
    store->count = 0;
    UniqueFile file(fopen(RootedPath(path).c_str(), "r"));
    if (!file)
        return;
    char line[CONCAT_LINE_SIZE];
    while (store->count < CONCAT_PARTS_MAX && fgets(line, sizeof line, file.get())) {
        if (!concat_parse_line(line, &store->parts[store->count])) {
            LOG(LOG_WARNING, "Warning： held part not readable, dropped: %s", line);
            continue;
        }
        store->count++;
    }
}

int concat_save(const ConcatStore* store, const char* path)
{
    RootedPath target(path);
    char temporary[ROOTED_PATH_SIZE + 8];
    snprintf(temporary, sizeof temporary, "%s.new", target.c_str());
    UniqueFile file(fopen(temporary, "w"));
    if (!file)
        return -1;
    bool ok = true;
    for (int i = 0; i < store->count && ok; i++) {
        char line[CONCAT_LINE_SIZE];
        ok = concat_format_line(&store->parts[i], line, sizeof line) > 0 && fputs(line, file.get()) >= 0;
    }
    if (fflush(file.get()) != 0 || file.close_now() != 0)
        ok = false;
    if (!ok || rename(temporary, target.c_str()) != 0) {
        remove(temporary);
        return -1;
    }
    return 0;
}
