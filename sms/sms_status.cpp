#include "sms_status.h"

#include <cstdio>
#include <ctime>
#include <sys/stat.h>

#include "brenlow_state.h"
#include "paths.h"
#include "own_file.h"
#include "retry_queue.h"
#include "spool_batch.h"
#include "status_file.h"
#include "text.h"
#include "unique_fd.h"

namespace {

constexpr const char* SPOOL_PATH = "/tmp/sms_tosend";
constexpr const char* SENDING_PATH = "/tmp/sms_sending";
constexpr const char* FAILED_PATH = "/tmp/sms_failed";

// The second modem's daemon watches the signal only and keeps a file of its own.
StatusFile first_modem_status("/var/run/brenlow.status");
StatusFile second_modem_status("/var/run/brenlow2.status");

constexpr const char* CURSOR_PATH = "/tmp/sms_sending.pos";
// Bytes of a file looked at once a second for its lines: a spool of many
// megabytes shows at least the lines of its first one.
constexpr long long COUNT_BYTES_MAX = 1 << 20;

// Lines of a file from offset on; a last line without its newline counts
// too. A link or a FIFO planted at the path is never opened.
int count_lines(const char* path, long long offset = 0)
{
    UniqueFile file(fopen_own(RootedPath(path).c_str(), "r"));
    if (!file || fseeko(file.get(), offset, SEEK_SET) != 0)
        return 0;
    int lines = 0;
    int c;
    int last = '\n';
    for (long long n = 0; n < COUNT_BYTES_MAX && (c = getc(file.get())) != EOF; ++n) {
        if (c == '\n')
            ++lines;
        last = c;
    }
    return last == '\n' ? lines : lines + 1;
}

// The batch's lines not yet worked through: those after its cursor.
int batch_lines_left()
{
    struct stat st;
    if (lstat(RootedPath(SENDING_PATH).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    BatchCursor cur;
    load_cursor(RootedPath(CURSOR_PATH).c_str(), &cur);
    return count_lines(SENDING_PATH, cur.ino == static_cast<unsigned long long>(st.st_ino) ? cur.offset : 0);
}

constexpr const char* RETRY_PATH = "/tmp/sms_retry";

struct RetryListing {
    StatusFile* status;
    long long wall_minus_boot; // the queue keeps boot-clock times; the file shows wall-clock ones
};

void add_retry_entry(const RetryEntry& entry, void* ctx)
{
    const RetryListing& listing = *static_cast<const RetryListing*>(ctx);
    char line[SPOOL_TEXT_LINE_SIZE];
    snprintf(line, sizeof line, "%s", entry.line);
    trim_newline(line, sizeof line);
    status_add(*listing.status, "retry", "%d %lld %s", entry.attempts, entry.next + listing.wall_minus_boot, line);
}

// One line per message waiting in the retry queue.
void add_retries(StatusFile& status)
{
    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    RetryListing listing = {&status, static_cast<long long>(time(nullptr)) - boot.tv_sec};
    retry_waiting(RootedPath(RETRY_PATH).c_str(), add_retry_entry, &listing);
}

} // namespace

void status_note_modem_answer(const char* response)
{
    brenlow.notes.modem_answered = response[0] != '\0' ? 1 : 0;
    brenlow.notes.modem_at = time(nullptr);
}

void status_note_strength(int reading)
{
    brenlow.notes.strength = reading;
    brenlow.notes.strength_at = time(nullptr);
}

void status_note_sent()
{
    brenlow.notes.last_sent = time(nullptr);
}

void status_note_received()
{
    brenlow.notes.last_received = time(nullptr);
}

void sms_status_publish(int module_index)
{
    StatusFile& status = module_index == 2 ? second_modem_status : first_modem_status;
    if (!status_begin(status))
        return;
    const StatusNotes& n = brenlow.notes;
    status_add(status, "module", "%d", module_index);
    status_add(status, "mode", "%s", brenlow.sms_mode == SmsMode::Cdma ? "cdma" : "gsm");
    status_add(status, "modem", "%s", n.modem_answered < 0 ? "unknown" : n.modem_answered ? "answering" : "silent");
    status_add(status, "modem_at", "%lld", static_cast<long long>(n.modem_at));
    status_add(status, "strength", "%d", n.strength);
    status_add(status, "strength_at", "%lld", static_cast<long long>(n.strength_at));
    status_add(status, "alarm", "%d", brenlow.alarm_status);
    status_add(status, "spool", "%d", count_lines(SPOOL_PATH));
    status_add(status, "batch", "%d", batch_lines_left());
    add_retries(status);
    status_add(status, "failed", "%d", count_lines(FAILED_PATH));
    status_add(status, "last_sent", "%lld", static_cast<long long>(n.last_sent));
    status_add(status, "last_received", "%lld", static_cast<long long>(n.last_received));
    status_publish(status);
}
