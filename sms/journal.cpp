#include "journal.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "clock_text.h"
#include "files.h"
#include "shown_text.h"
#include "sms_concat.h"

namespace {

constexpr const char* RECORD_PATH = "/etc/config/sms_record";

} // namespace

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

void record_received(const InboxMessage* msg)
{
    char now[32] = {};
    get_datetime_str(now);
    append_record_line("Received SMS: sender: %s; time: %s; msg: %s\n", Shown(msg->sender).c_str(), now,
                       Shown(msg->text).c_str());
}

void record_undeliverable(const InboxMessage* msg, const char* pdu)
{
    char now[32] = {};
    get_datetime_str(now);
    append_record_line("Received SMS: sender: %s; time: %s; msg: %s [no sender, pdu %s]\n",
                       Shown(msg->sender).c_str(), now, Shown(msg->text).c_str(), Shown(pdu).c_str());
}

void record_received_text(const char* sender, const char* text)
{
    if (strlen(text) < INBOX_TEXT_SIZE) {
        InboxMessage msg;
        memset(&msg, 0, sizeof msg);
        snprintf(msg.sender, sizeof msg.sender, "%s", sender);
        snprintf(msg.text, sizeof msg.text, "%s", text);
        record_received(&msg);
        return;
    }
    // A long (joined or Unicode) message is kept whole, escaped like every line.
    char now[32] = {};
    get_datetime_str(now);
    static char shown[4 * CONCAT_TEXT_SIZE];
    escape_controls(shown, sizeof shown, text);
    static char line[sizeof shown + SHOWN_TEXT_SIZE + 128];
    snprintf(line, sizeof line, "Received SMS: sender: %s; time: %s; msg: %s\n", Shown(sender).c_str(), now, shown);
    append_text_file(RECORD_PATH, line);
}
