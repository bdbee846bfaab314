#include "sms_outbox.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "brenlow_state.h"
#include "config.h"
#include "line_reader.h"
#include "log.h"
#include "paths.h"
#include "shown_text.h"
#include "sms_manager.h"
#include "unique_fd.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "sms_outbox.cpp";

namespace {

constexpr const char* SPOOL_PATH = "/tmp/sms_tosend";
constexpr const char* SENDING_PATH = "/tmp/sms_sending";
constexpr const char* SENDING_TEMP_PATH = "/tmp/sms_sending.tmp";
constexpr const char* FAILED_PATH = "/tmp/sms_failed";
constexpr const char* RECORD_PATH = "/etc/config/sms_record";
// Copy buffer of the batch write-back.
constexpr int COPY_CHUNK_SIZE = 1024;
// A refusal or failure note of the journal.
constexpr int NOTE_SIZE = 96;

enum class LineOutcome {
    Sent,      // handed to the modem: the line leaves the batch
    Done,      // skipped, refused or given up: the line leaves the batch
    Retry,     // failed: the line heads the batch for the next pass
    ModemGone, // the device went away: the line and the rest wait for the next start
};

// FNV-1a, to know the head line again on the next pass.
unsigned line_hash(const char* line)
{
    unsigned h = 2166136261u;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(line); *p; ++p)
        h = (h ^ *p) * 16777619u;
    return h;
}

void give_up(const char* line, const SpoolLine& msg, const char* reason)
{
    char now[32] = {};
    get_datetime_str(now);
    size_t len = strlen(line);
    char entry[RECORD_LINE_SIZE + 64];
    // The spool line stays as written, last, so it can be queued again as it is.
    snprintf(entry, sizeof entry, "%s\t%s\t%s%s", now, reason, line, len && line[len - 1] == '\n' ? "" : "\n");
    append_text_file(FAILED_PATH, entry);
    log_print(LOG_ERROR, "[%s %d] Error： send message given up after %d attempts (%s): (%s) to %s", LOG_UNIT,
              __LINE__, SPOOL_SEND_ATTEMPTS, reason, Shown(msg.text).c_str(), Shown(msg.number).c_str());
}

// A line whose number may not reach the encoder is refused and noted.
bool refuse_bad_number(const SpoolLine& msg)
{
    int bad = bad_number_byte(msg.number);
    if (bad < 0)
        return false;
    unsigned byte = static_cast<unsigned char>(msg.number[bad]);
    log_print(LOG_ERROR, "[%s %d] Error： spool line refused, number %s holds byte 0x%02X at %d", LOG_UNIT, __LINE__,
              Shown(msg.number).c_str(), byte, bad);
    char note[NOTE_SIZE];
    snprintf(note, sizeof note, "refused: number holds byte 0x%02X at %d", byte, bad);
    record_sent(msg.number, note);
    return true;
}

LineOutcome send_spool_line(const char* line, bool cut)
{
    SpoolLine msg;
    SpoolParse parsed = parse_spool_line(line, &msg);
    if (parsed == SpoolParse::NoComma)
        return LineOutcome::Done;
    if (parsed == SpoolParse::BadNumber) {
        log_print(LOG_ERROR, "[%s %d] Error： bad phone number in spool line: %s", LOG_UNIT, __LINE__,
                  Shown(line).c_str());
        return LineOutcome::Done;
    }
    if (cut)
        log_print(LOG_WARNING, "[%s %d] Warning： spool line to %s longer than %d bytes, its text is cut", LOG_UNIT,
                  __LINE__, Shown(msg.number).c_str(), SPOOL_LINE_SIZE - 1);
    if (refuse_bad_number(msg))
        return LineOutcome::Done;
    if (strcmp(msg.number, brenlow.last_sent_number) == 0 && strcmp(msg.text, brenlow.last_sent_text) == 0)
        return LineOutcome::Done;
    log_print(LOG_DEBUG, "[%s %d] Debug： sendmessage() telnum:%s, msg:%s, i=%d, original_msg=%s", LOG_UNIT,
              __LINE__, Shown(msg.number).c_str(), Shown(msg.text).c_str(), msg.comma,
              Shown(line + msg.comma + 1).c_str());
    unsigned hash = line_hash(line);
    if (hash != brenlow.retry_hash) {
        brenlow.retry_hash = hash;
        brenlow.retry_attempts = 0;
    }
    if (!sms_send(msg.number, msg.text)) {
        log_print(LOG_ERROR, "[%s %d] Error： send message error:  (%s) to %s", LOG_UNIT, __LINE__,
                  Shown(msg.text).c_str(), Shown(msg.number).c_str());
        // Not an attempt: the modem never had the chance to take it.
        if (brenlow.modem_lost)
            return LineOutcome::ModemGone;
        if (++brenlow.retry_attempts < SPOOL_SEND_ATTEMPTS)
            return LineOutcome::Retry;
        give_up(line, msg, "modem did not take the message");
        brenlow.retry_hash = 0;
        return LineOutcome::Done;
    }
    brenlow.retry_hash = 0;
    record_sent(msg.number, msg.text);
    log_print(LOG_INFO, "[%s %d] Info： send normal message (%s) to %s", LOG_UNIT, __LINE__, Shown(msg.text).c_str(),
              Shown(msg.number).c_str());
    snprintf(brenlow.last_sent_number, sizeof brenlow.last_sent_number, "%s", msg.number);
    snprintf(brenlow.last_sent_text, sizeof brenlow.last_sent_text, "%s", msg.text);
    return LineOutcome::Sent;
}

// Writes what follows offset in batch back as the whole batch, through a
// temporary file and a rename: a crash leaves the old batch or the new one.
bool write_back_rest(FILE* batch, long offset)
{
    RootedPath temp(SENDING_TEMP_PATH);
    bool ok = fseek(batch, offset, SEEK_SET) == 0;
    {
        UniqueFile out(fopen(temp.c_str(), "w"));
        ok = ok && out;
        char chunk[COPY_CHUNK_SIZE];
        size_t n;
        while (ok && (n = fread(chunk, 1, sizeof chunk, batch)) > 0)
            ok = fwrite(chunk, 1, n, out.get()) == n;
        ok = ok && out.close_now() == 0;
    }
    ok = ok && rename(temp.c_str(), RootedPath(SENDING_PATH).c_str()) == 0;
    if (!ok) {
        log_print(LOG_ERROR, "[%s %d] Error： cannot write the spool batch back", LOG_UNIT, __LINE__);
        remove(temp.c_str());
    }
    fseek(batch, offset, SEEK_SET);
    return ok;
}

} // namespace

SpoolParse parse_spool_line(const char* line, SpoolLine* out)
{
    memset(out, 0, sizeof *out);
    const char* comma = strchr(line, ',');
    if (!comma)
        return SpoolParse::NoComma;
    int len = static_cast<int>(comma - line);
    out->comma = len;
    if (len < 1 || len >= static_cast<int>(sizeof out->number))
        return SpoolParse::BadNumber;
    memcpy(out->number, line, len);
    snprintf(out->text, sizeof out->text, "%s", comma + 1);
    return SpoolParse::Ok;
}

void sendmessage()
{
    RootedPath sending(SENDING_PATH);
    // A batch left by an interrupted pass goes out first; the new spool
    // waits for the next pass instead of replacing it.
    if (access(sending.c_str(), F_OK) != 0)
        rename(RootedPath(SPOOL_PATH).c_str(), sending.c_str());
    UniqueFile file(fopen(sending.c_str(), "r"));
    if (!file)
        return;
    char line[SPOOL_LINE_SIZE];
    bool cut = false;
    // After each line the rest is written back, so a kill resends at most
    // the line that was in flight.
    while (read_whole_line(file.get(), line, sizeof line, &cut)) {
        puts(line);
        long next = ftell(file.get());
        LineOutcome outcome = send_spool_line(line, cut);
        if (outcome == LineOutcome::Retry || outcome == LineOutcome::ModemGone)
            return; // the batch now starts with this line
        if (next < 0 || !write_back_rest(file.get(), next))
            return;
        if (outcome == LineOutcome::Sent)
            sleep(1);
    }
    file.close_now();
    remove(sending.c_str());
}

void append_record_line(const char* format, ...)
{
    char line[RECORD_LINE_SIZE];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0)
        return;
    // A cut line still ends its line, so the next event starts a line of its own.
    if (n >= static_cast<int>(sizeof line))
        line[sizeof line - 2] = '\n';
    append_text_file(RECORD_PATH, line);
}

void record_sent(const char* number, const char* text)
{
    char now[32] = {};
    get_datetime_str(now);
    append_record_line("Sent SMS: receiver: %s; time: %s; msg: %s.\n", Shown(number).c_str(), now,
                       Shown(text).c_str());
}
