#include "sms_inbox.h"

#include <cstdio>
#include <cstring>

#include "brenlow_state.h"
#include "gsm_alphabet.h"
#include "journal.h"
#include "log.h"
#include "receive_hook.h"
#include "shown_text.h"
#include "sms_handler.h"
#include "sms_manager.h"
#include "sms_status.h"
#include "sms_text.h"

constexpr char LOG_UNIT[] = "sms_inbox.cpp";

namespace {

// The record the handler and the journal take: the text cut to 160 bytes on
// a character boundary. Keywords are at most 63 bytes, so the handler still
// matches what the whole text does.
void as_record(const char* sender, const char* stamp, const char* text, InboxMessage* out)
{
    memset(out, 0, sizeof *out);
    snprintf(out->sender, sizeof out->sender, "%s", sender);
    snprintf(out->stamp, sizeof out->stamp, "%s", stamp);
    memcpy(out->text, text, utf8_cut(text, INBOX_TEXT_SIZE - 1));
}

// Log and journal line with the whole text, deletion at index (none when
// index is -1) and the command handler, as for every message.
void handle_message(int index, const JoinedMessage& msg)
{
    const char* shown_stamp = format_scts(msg.stamp);
    LOG(LOG_INFO, "Info： Received SMS: sender: %s; time: %s; msg: %s", Shown(msg.sender).c_str(), shown_stamp,
        Shown(msg.text).c_str());
    status_note_received();
    record_received_text(msg.sender, msg.text);
    onreceive_start(msg.sender, shown_stamp, msg.text, index);
    // Deleted once, before its command: a reboot must not find it again,
    // and by the time the command and its reply are done the freed index
    // may hold a new message.
    if (index >= 0)
        sms_del(index);
    InboxMessage record;
    as_record(msg.sender, msg.stamp, msg.text, &record);
    if (get_sms_config()->enabled == 1)
        cmd_handling(&record);
    join_handled();
}

} // namespace

const char* format_scts(const char* stamp)
{
    static char shown[18];
    char digits[12];
    // A short stamp shows as zeros rather than reading past its end.
    size_t len = strnlen(stamp, sizeof digits);
    for (size_t i = 0; i < sizeof digits; ++i)
        digits[i] = i < len ? stamp[i] : '0';
    snprintf(shown, sizeof shown, "%.2s-%.2s-%.2s %.2s:%.2s:%.2s", digits, digits + 2, digits + 4, digits + 6,
             digits + 8, digits + 10);
    return shown;
}

void recvmessage()
{
    const SmsConfig* config = get_sms_config();
    if (config->enabled != 1)
        return;
    JoinedMessage whole;
    if (config->unicode == 1)
        while (join_take_due(nullptr, &whole))
            handle_message(-1, whole);
    // With the modem's count, an empty store costs no read at all and a
    // message behind empty indexes is still found; without it, the scan
    // stops at the first empty index from 1 on.
    int used = 0;
    int total = 0;
    bool counted = sms_count(&used, &total);
    if (counted && used == 0) {
        brenlow.unreadable_left = -1;
        LOG(LOG_DEBUG, "Debug： recvmessage is done");
        return;
    }
    // A store whose unreadable messages were all looked for already is not
    // scanned whole again until its count changes.
    bool whole_store = counted && used != brenlow.unreadable_left;
    // The store index is 8 bits wide; stop before it would wrap to 0 again.
    int last = whole_store && total < 255 ? total : 255;
    int found = 0;
    for (int index = 0; index <= last && !(whole_store && found == used); ++index) {
        StoredMessage msg;
        memset(&msg, 0, sizeof msg);
        if (!sms_read(index, &msg)) {
            if (index == 0 || whole_store)
                continue;
            break;
        }
        ++found;
        // Without a sender (or a PDU that decodes) a message can be neither
        // answered nor handled; kept, it would hold its slot for ever.
        if (msg.sender[0] == '\0') {
            LOG(LOG_WARNING, "Warning： stored message %d has no sender, deleted: %s", index, Shown(msg.pdu).c_str());
            InboxMessage record;
            as_record(msg.sender, msg.stamp, msg.text, &record);
            record_undeliverable(&record, msg.pdu);
            sms_del(index);
            continue;
        }
        // Parts held too long, or in the way of this one, go first.
        while (join_take_due(&msg, &whole))
            handle_message(-1, whole);
        if (join_message(&msg, &whole))
            handle_message(index, whole);
        else
            sms_del(index); // held on file
    }
    if (whole_store) {
        brenlow.unreadable_left = found < used ? used - found : -1;
        if (found < used)
            LOG(LOG_WARNING, "Warning： modem counts %d messages, %d of them could not be read", used, used - found);
    }
    LOG(LOG_DEBUG, "Debug： recvmessage is done");
}
