#include "sms_outbox.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "brenlow_state.h"
#include "clock_text.h"
#include "files.h"
#include "journal.h"
#include "log.h"
#include "outbox_files.h"
#include "paths.h"
#include "retry_queue.h"
#include "shown_text.h"
#include "sms_manager.h"
#include "spool_batch.h"
#include "spool_line.h"
#include "unique_fd.h"

constexpr char LOG_UNIT[] = "sms_outbox.cpp";

namespace {

constexpr const char* SPOOL_PATH = "/tmp/sms_tosend";
constexpr const char* SENDING_PATH = "/tmp/sms_sending";
constexpr const char* CURSOR_PATH = "/tmp/sms_sending.pos";
constexpr const char* CURSOR_TEMP_PATH = "/tmp/sms_sending.pos.tmp";
constexpr const char* RETRY_PATH = "/tmp/sms_retry";
constexpr const char* RETRY_TEMP_PATH = "/tmp/sms_retry.tmp";
constexpr const char* FAILED_PATH = "/tmp/sms_failed";
// A refusal, failure or give-up note of the journal and the dead-letter file.
constexpr int NOTE_SIZE = 160;
// A line whose newline has not come for this long is sent as it stands (its
// writer died); a batch a writer holds open unchanged this long is let go
// when a new spool waits behind it.
constexpr long long SPOOL_STALE_S = 60;
// Without file leases a batch is taken as still written while it grew this recently.
constexpr long long SPOOL_QUIET_S = 10;
// Pauses between the tries of a refused message, doubling from the first.
constexpr long long RETRY_FIRST_PAUSE_S = 30;
constexpr long long RETRY_LONGEST_PAUSE_S = 1800;

enum class LineOutcome {
    Sent,      // handed to the modem
    Done,      // skipped, refused, queued for a retry or recorded as unconfirmed
    ModemGone, // the device went away: the line waits for the next start
};

enum class Sending { Sent, Failed, Unconfirmed, ModemGone };

enum class BatchEnd {
    Waiting,   // kept: lines may still come
    Finished,  // worked through and removed
    Carried,   // removed; its last line's start goes on in the next spool
    ModemGone, // the device went away
};

// Seconds on the boot clock: stored times must survive a restart of the
// daemon and ignore steps of the wall clock; /tmp goes with a reboot anyway.
long long boot_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return ts.tv_sec;
}

// Names a new batch for good: no two batches of one boot share it.
unsigned long long new_batch_id()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<unsigned long long>(ts.tv_sec) * 1000000000ULL + ts.tv_nsec + 1;
}

long long retry_pause(int attempts)
{
    long long pause = RETRY_FIRST_PAUSE_S;
    for (int i = 1; i < attempts && pause < RETRY_LONGEST_PAUSE_S; ++i)
        pause *= 2;
    return pause < RETRY_LONGEST_PAUSE_S ? pause : RETRY_LONGEST_PAUSE_S;
}

bool whole_texts()
{
    return get_sms_config()->unicode == 1;
}

int spool_line_size()
{
    return whole_texts() ? SPOOL_TEXT_LINE_SIZE : SPOOL_LINE_SIZE;
}

int spool_text_max()
{
    return whole_texts() ? SPOOL_TEXT_SIZE - 1 : SPOOL_SHORT_TEXT_MAX;
}

// The spool line goes last and as written, so it can be queued again as it is.
void dead_letter(const char* line, const char* reason)
{
    char now[32] = {};
    get_datetime_str(now);
    size_t len = strlen(line);
    char entry[SPOOL_TEXT_LINE_SIZE + NOTE_SIZE + 32];
    snprintf(entry, sizeof entry, "%s\t%s\t%s%s", now, reason, line, len && line[len - 1] == '\n' ? "" : "\n");
    RootedPath failed(FAILED_PATH);
    set_aside_unless_regular(failed.c_str());
    append_text_file(FAILED_PATH, entry);
}

bool is_last_sent(const SpoolLine& msg)
{
    return strcmp(msg.number, brenlow.last_sent_number) == 0 && strcmp(msg.text, brenlow.last_sent_text) == 0;
}

// A message given up is no longer the last one handled: the owner may queue
// it again, and the repeat test must not drop it then.
void forget_sent(const SpoolLine& msg)
{
    if (is_last_sent(msg)) {
        brenlow.last_sent_number[0] = '\0';
        brenlow.last_sent_text[0] = '\0';
    }
}

void give_up(const RetryEntry& entry, const SpoolLine& msg, const char* why)
{
    forget_sent(msg);
    char reason[NOTE_SIZE];
    snprintf(reason, sizeof reason, "%s, last answer: %s", why, entry.answer[0] ? entry.answer : "none");
    dead_letter(entry.line, reason);
    LOG(LOG_ERROR, "Error： send message given up after %d attempts (%s): (%s) to %s", entry.attempts, reason,
        Shown(msg.text).c_str(), Shown(msg.number).c_str());
}

// A line whose number may not reach the encoder is refused and noted.
bool refuse_bad_number(const SpoolLine& msg)
{
    int bad = bad_number_byte(msg.number);
    if (bad < 0)
        return false;
    unsigned byte = static_cast<unsigned char>(msg.number[bad]);
    LOG(LOG_ERROR, "Error： spool line refused, number %s holds byte 0x%02X at %d", Shown(msg.number).c_str(), byte,
        bad);
    char note[NOTE_SIZE];
    snprintf(note, sizeof note, "refused: number holds byte 0x%02X at %d", byte, bad);
    record_sent(msg.number, note);
    return true;
}

// Sends one spool message and records what became of it. A message the
// modem may have taken without saying so is never sent again by itself.
Sending send_message(const SpoolLine& msg, const char* line, SendReport* report)
{
    if (brenlow.outbox.pause_due)
        sleep(1);
    *report = sms_send_report(msg.number, msg.text);
    if (report->outcome == SendOutcome::Sent) {
        brenlow.outbox.pause_due = true;
        record_sent(msg.number, msg.text);
        LOG(LOG_INFO, "Info： send normal message (%s) to %s", Shown(msg.text).c_str(), Shown(msg.number).c_str());
        return Sending::Sent;
    }
    char answer[SEND_ANSWER_SIZE];
    escape_controls(answer, sizeof answer, report->answer);
    if (report->outcome == SendOutcome::Unconfirmed) {
        LOG(LOG_ERROR, "Error： send message unconfirmed, not sent again: (%s) to %s", Shown(msg.text).c_str(),
            Shown(msg.number).c_str());
        char reason[NOTE_SIZE];
        snprintf(reason, sizeof reason, "unconfirmed: no final answer after the message, last answer: %s",
                 answer[0] ? answer : "none");
        dead_letter(line, reason);
        forget_sent(msg);
        char note[SPOOL_TEXT_SIZE + 16];
        snprintf(note, sizeof note, "unconfirmed: %s", msg.text);
        record_sent(msg.number, note);
        return Sending::Unconfirmed;
    }
    LOG(LOG_ERROR, "Error： send message error:  (%s) to %s", Shown(msg.text).c_str(), Shown(msg.number).c_str());
    // Not an attempt: the modem never had the chance to take it.
    return brenlow.modem_lost ? Sending::ModemGone : Sending::Failed;
}

RetryStep retry_step(RetryEntry* entry)
{
    SpoolLine msg;
    if (parse_spool_line(entry->line, &msg, spool_text_max()) != SpoolParse::Ok)
        return RetryStep::Done;
    SendReport report;
    switch (send_message(msg, entry->line, &report)) {
    case Sending::Sent:
    case Sending::Unconfirmed:
        return RetryStep::Done;
    case Sending::ModemGone:
        return RetryStep::Stop;
    case Sending::Failed:
        break;
    }
    ++entry->attempts;
    escape_controls(entry->answer, sizeof entry->answer, report.answer);
    // Sends take a while: the time is read after this one.
    long long now = boot_seconds();
    int retrytime = get_sms_config()->retrytime;
    if (now - entry->first >= retrytime) {
        char why[NOTE_SIZE];
        snprintf(why, sizeof why, "not sent within %d s", retrytime);
        give_up(*entry, msg, why);
        return RetryStep::Done;
    }
    entry->next = now + retry_pause(entry->attempts);
    LOG(LOG_INFO, "Info： message to %s tried %d times, next try in %lld s", Shown(msg.number).c_str(), entry->attempts,
        entry->next - now);
    return RetryStep::Again;
}

// The refused messages whose next try has come, oldest first.
void retry_due_messages(long long now)
{
    OutboxState& state = brenlow.outbox;
    RootedPath queue(RETRY_PATH);
    if (state.retry_due < 0) {
        // First pass since the start: learn what the last run queued.
        if (!retry_last_origin(queue.c_str(), &state.queued_id, &state.queued_end))
            state.queued_end = -1;
        state.retry_due = now;
    }
    if (state.retry_due == 0 || now < state.retry_due)
        return;
    state.retry_due = retry_pass(queue.c_str(), RootedPath(RETRY_TEMP_PATH).c_str(), now, retry_step);
}

// A refused batch line waits in the queue; the lines behind it go on.
bool queue_retry(const char* line, const SpoolLine& msg, const SendReport& report, unsigned long long id,
                 long long end)
{
    long long now = boot_seconds();
    RetryEntry entry = {};
    entry.attempts = 1;
    entry.first = now;
    entry.next = now + retry_pause(1);
    size_t len = strlen(line);
    entry.newline = len > 0 && line[len - 1] == '\n';
    escape_controls(entry.answer, sizeof entry.answer, report.answer);
    entry.origin_id = id;
    entry.origin_end = end;
    snprintf(entry.line, sizeof entry.line, "%s", line);
    if (get_sms_config()->retrytime <= 0) {
        give_up(entry, msg, "not retried");
        return false;
    }
    // Without the queue the message would be lost: the dead-letter file keeps it.
    if (retry_append(RootedPath(RETRY_PATH).c_str(), entry) != 0) {
        LOG(LOG_ERROR, "Error： cannot queue the message to %s for a retry", Shown(msg.number).c_str());
        give_up(entry, msg, "retry queue not writable");
        return false;
    }
    OutboxState& state = brenlow.outbox;
    state.queued_id = id;
    state.queued_end = end;
    if (state.retry_due <= 0 || entry.next < state.retry_due)
        state.retry_due = entry.next;
    LOG(LOG_INFO, "Info： message to %s tried %d times, next try in %lld s", Shown(msg.number).c_str(), entry.attempts,
        entry.next - now);
    return true;
}

void remember_sent(const SpoolLine& msg)
{
    snprintf(brenlow.last_sent_number, sizeof brenlow.last_sent_number, "%s", msg.number);
    snprintf(brenlow.last_sent_text, sizeof brenlow.last_sent_text, "%s", msg.text);
}

LineOutcome handle_batch_line(const BatchLine& line, unsigned long long id)
{
    SpoolLine msg;
    SpoolParse parsed = parse_spool_line(line.text, &msg, spool_text_max());
    if (parsed == SpoolParse::NoComma)
        return LineOutcome::Done;
    if (parsed == SpoolParse::BadNumber) {
        LOG(LOG_ERROR, "Error： bad phone number in spool line: %s", Shown(line.text).c_str());
        return LineOutcome::Done;
    }
    if (line.cut)
        LOG(LOG_WARNING, "Warning： spool line to %s longer than %d bytes, its text is cut", Shown(msg.number).c_str(),
            spool_line_size() - 1);
    if (refuse_bad_number(msg))
        return LineOutcome::Done;
    if (is_last_sent(msg))
        return LineOutcome::Done;
    // Queued just before the last run was killed.
    if (id == brenlow.outbox.queued_id && line.end == brenlow.outbox.queued_end)
        return LineOutcome::Done;
    LOG(LOG_DEBUG, "Debug： sendmessage() telnum:%s, msg:%s, i=%d, original_msg=%s", Shown(msg.number).c_str(),
        Shown(msg.text).c_str(), msg.comma, Shown(line.text + msg.comma + 1).c_str());
    SendReport report;
    switch (send_message(msg, line.text, &report)) {
    case Sending::Sent:
        remember_sent(msg);
        return LineOutcome::Sent;
    case Sending::Unconfirmed:
        return LineOutcome::Done;
    case Sending::ModemGone:
        return LineOutcome::ModemGone;
    case Sending::Failed:
        break;
    }
    // A repeat of a queued message is the same message, as for a sent one.
    if (queue_retry(line.text, msg, report, id, line.end))
        remember_sent(msg);
    return LineOutcome::Done;
}

bool save_batch_cursor(const BatchCursor& cur)
{
    if (save_cursor(RootedPath(CURSOR_PATH).c_str(), RootedPath(CURSOR_TEMP_PATH).c_str(), cur) == 0)
        return true;
    LOG(LOG_ERROR, "Error： cannot record how far the spool batch was sent");
    return false;
}

// The line up to end is done: the cursor moves past it, on file first.
bool pass_line(BatchCursor* cur, long long end)
{
    cur->offset = end;
    cur->carry_len = 0;
    cur->cut = false;
    return save_batch_cursor(*cur);
}

void remove_batch()
{
    remove(RootedPath(SENDING_PATH).c_str());
    remove(RootedPath(CURSOR_PATH).c_str());
}

// The spool becomes the batch. The cursor says so first, keeping the start
// of a line the last batch left, so a kill in between loses nothing.
bool take_spool(BatchCursor* cur)
{
    RootedPath spool(SPOOL_PATH);
    if (set_aside_unless_regular(spool.c_str()) != OutboxPath::Regular)
        return false;
    cur->ino = 0;
    cur->id = new_batch_id();
    cur->offset = 0;
    return save_batch_cursor(*cur) && rename(spool.c_str(), RootedPath(SENDING_PATH).c_str()) == 0;
}

// Notes when the batch last changed, to tell a writer at work from one gone.
long long quiet_for(unsigned long long ino, long long size, long long now)
{
    OutboxState& state = brenlow.outbox;
    if (state.batch_ino != ino || state.batch_size != size) {
        state.batch_ino = ino;
        state.batch_size = size;
        state.batch_changed_at = now;
    }
    return now - state.batch_changed_at;
}

// What to do once no whole line is left: wait for the writer, carry a line
// start into the next spool, send a stale tail as it stands, or finish.
BatchEnd after_last_line(int fd, LineRead read, const BatchLine& tail, BatchCursor* cur)
{
    long long now = boot_seconds();
    long long quiet = quiet_for(cur->ino, tail.end, now);
    Writers writers = batch_writers(fd);
    bool held = writers == Writers::Some || (writers == Writers::Unknown && quiet < SPOOL_QUIET_S);
    bool spool_waits = set_aside_unless_regular(RootedPath(SPOOL_PATH).c_str()) == OutboxPath::Regular;
    if (read == LineRead::Tail && !held && spool_waits) {
        // Its writer opens the spool anew for each piece: the rest of the
        // line is at the start of the next spool.
        cur->offset = tail.end;
        cur->carry_len = tail.len;
        cur->cut = tail.cut;
        memcpy(cur->carry, tail.text, tail.len);
        if (!save_batch_cursor(*cur))
            return BatchEnd::Waiting;
        remove(RootedPath(SENDING_PATH).c_str());
        return BatchEnd::Carried;
    }
    if (read == LineRead::Tail) {
        if (quiet < SPOOL_STALE_S)
            return BatchEnd::Waiting;
        LOG(LOG_WARNING, "Warning： spool line without its newline for %lld s, sent as it stands: %s", quiet,
            Shown(tail.text).c_str());
        if (handle_batch_line(tail, cur->id) == LineOutcome::ModemGone)
            return BatchEnd::ModemGone;
        if (!pass_line(cur, tail.end))
            return BatchEnd::Waiting;
    }
    if (held && !(spool_waits && quiet >= SPOOL_STALE_S))
        return BatchEnd::Waiting;
    if (held)
        LOG(LOG_WARNING, "Warning： spool batch held open by a writer, unchanged for %lld s: let go", quiet);
    remove_batch();
    return BatchEnd::Finished;
}

// Sends the batch's whole lines from the cursor on, saving the cursor after each.
BatchEnd work_batch(BatchCursor* cur)
{
    struct stat st;
    UniqueFd fd(open_regular(RootedPath(SENDING_PATH).c_str(), O_RDONLY, &st));
    if (!fd.valid())
        return BatchEnd::Waiting;
    auto ino = static_cast<unsigned long long>(st.st_ino);
    if (cur->ino != ino || cur->id == 0) {
        // A batch the cursor does not know (left by an older run) starts from
        // its beginning; one just taken keeps the carried line start.
        if (cur->ino != 0 || cur->id == 0)
            memset(cur, 0, sizeof *cur);
        cur->ino = ino;
        if (cur->id == 0)
            cur->id = new_batch_id();
        // Lines queued for a retry name the batch by its id: it must be on
        // file before the first of them.
        if (!save_batch_cursor(*cur))
            return BatchEnd::Waiting;
    }
    UniqueFile batch(fdopen(dup(fd.get()), "r"));
    if (!batch || fseeko(batch.get(), cur->offset, SEEK_SET) != 0)
        return BatchEnd::Waiting;
    BatchLine line;
    LineRead read;
    while ((read = read_batch_line(batch.get(), *cur, spool_line_size(), &line)) == LineRead::Whole) {
        puts(line.text);
        if (handle_batch_line(line, cur->id) == LineOutcome::ModemGone)
            return BatchEnd::ModemGone;
        if (!pass_line(cur, line.end))
            return BatchEnd::Waiting;
    }
    return after_last_line(fd.get(), read, line, cur);
}

} // namespace

void sendmessage()
{
    brenlow.outbox.pause_due = false;
    retry_due_messages(boot_seconds());
    if (brenlow.modem_lost)
        return;
    BatchCursor cur;
    load_cursor(RootedPath(CURSOR_PATH).c_str(), &cur);
    // Twice at most: a batch that hands its last line's start on goes on
    // with the spool that holds the rest at once.
    for (int round = 0; round < 2; ++round) {
        OutboxPath batch = set_aside_unless_regular(RootedPath(SENDING_PATH).c_str());
        if (batch == OutboxPath::Stuck || (batch != OutboxPath::Regular && !take_spool(&cur)))
            return;
        if (work_batch(&cur) != BatchEnd::Carried)
            return;
    }
}
