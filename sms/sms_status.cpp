#include "sms_status.h"

#include <cstdio>
#include "brenlow_state.h"
#include "line_reader.h"
#include "paths.h"
#include "sms_outbox.h"
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

// Lines of a file; a last line without its newline counts too.
int count_lines(const char* path)
{
    UniqueFile file(fopen(RootedPath(path).c_str(), "r"));
    if (!file)
        return 0;
    int lines = 0;
    int c;
    int last = '\n';
    while ((c = getc(file.get())) != EOF) {
        if (c == '\n')
            ++lines;
        last = c;
    }
    return last == '\n' ? lines : lines + 1;
}

// The line at the head of the batch is the one being retried.
void add_retry(StatusFile& status, time_t next_pass)
{
    if (brenlow.retry_attempts <= 0)
        return;
    UniqueFile batch(fopen(RootedPath(SENDING_PATH).c_str(), "r"));
    char line[SPOOL_LINE_SIZE];
    bool cut = false;
    if (!batch || !read_whole_line(batch.get(), line, sizeof line, &cut))
        return;
    trim_newline(line, sizeof line);
    status_add(status, "retry", "%d %lld %s", brenlow.retry_attempts, static_cast<long long>(next_pass), line);
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

void sms_status_publish(int module_index, time_t next_pass)
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
    status_add(status, "batch", "%d", count_lines(SENDING_PATH));
    add_retry(status, next_pass);
    status_add(status, "failed", "%d", count_lines(FAILED_PATH));
    status_add(status, "last_sent", "%lld", static_cast<long long>(n.last_sent));
    status_add(status, "last_received", "%lld", static_cast<long long>(n.last_received));
    status_publish(status);
}
