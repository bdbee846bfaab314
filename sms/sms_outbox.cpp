#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "brenlow_state.h"
#include "config.h"
#include "log.h"
#include "paths.h"
#include "sms_spool.h"
#include "unique_fd.h"

namespace {

constexpr const char* SPOOL_PATH = "/tmp/sms_tosend";
constexpr const char* SENDING_PATH = "/tmp/sms_sending";
constexpr const char* RECORD_PATH = "/etc/config/sms_record";

void send_spool_line(const char* line)
{
    SpoolLine msg;
    SpoolParse parsed = parse_spool_line(line, &msg);
    if (parsed == SpoolParse::NoComma)
        return;
    if (parsed == SpoolParse::BadNumber) {
        log_print(LOG_ERROR, "[%s %d] Error： bad phone number in spool line: %s", LOG_SRC, __LINE__, line);
        return;
    }
    if (strcmp(msg.number, brenlow.last_sent_number) == 0 && strcmp(msg.text, brenlow.last_sent_text) == 0)
        return;
    log_print(LOG_DEBUG, "[%s %d] Debug： sendmessage() telnum:%s, msg:%s, i=%d, original_msg=%s", LOG_SRC,
              __LINE__, msg.number, msg.text, msg.comma, line + msg.comma + 1);
    if (!sms_send(msg.number, msg.text))
        log_print(LOG_ERROR, "[%s %d] Error： send message error:  (%s) to %s", LOG_SRC, __LINE__, msg.text,
                  msg.number);
    record_sent(msg.number, msg.text);
    log_print(LOG_INFO, "[%s %d] Info： send normal message (%s) to %s", LOG_SRC, __LINE__, msg.text, msg.number);
    snprintf(brenlow.last_sent_number, sizeof brenlow.last_sent_number, "%s", msg.number);
    snprintf(brenlow.last_sent_text, sizeof brenlow.last_sent_text, "%s", msg.text);
    sleep(1);
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
    {
        UniqueFile file(fopen(sending.c_str(), "r"));
        if (!file)
            return;
        char line[SPOOL_LINE_SIZE];
        while (fgets(line, sizeof line, file.get())) {
            puts(line);
            send_spool_line(line);
        }
    }
    remove(sending.c_str());
}

void record_sent(const char* number, const char* text)
{
    char now[32] = {};
    get_datetime_str(now);
    char line[RECORD_LINE_SIZE];
    snprintf(line, sizeof line, "Sent SMS: receiver: %s; time: %s; msg: %s.\n", number, now, text);
    append_text_file(RECORD_PATH, line);
}
