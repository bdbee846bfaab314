#include "sms_inbox.h"

#include <cstdio>
#include <cstring>

#include "brenlow_state.h"
#include "gsm_alphabet.h"
#include "journal.h"
#include "log.h"
#include "receive_hook.h"
#include "shown_text.h"
#include "sms_concat.h"
#include "sms_handler.h"
#include "sms_manager.h"
#include "sms_status.h"
#include "sms_text.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "sms_inbox.cpp";

namespace {

// CDMA keeps the raw BCD octets of the time stamp: shown as their hex digits
// they read like the GSM digits, so one format serves both.
void stamp_digits(const char* stamp, char* out, size_t size)
{
    if (brenlow.sms_mode != SmsMode::Cdma) {
        snprintf(out, size, "%s", stamp);
        return;
    }
    size_t pos = 0;
    for (int i = 0; i < 6 && pos + 2 < size; ++i) {
        unsigned char octet = static_cast<unsigned char>(stamp[i]);
        snprintf(out + pos, size - pos, "%02X", octet);
        pos += 2;
        if (octet == 0)
            break;
    }
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

void handle_received_text(int index, const char* sender, const char* stamp, const char* text)
{
    char digits[INBOX_STAMP_SIZE] = {};
    stamp_digits(stamp, digits, sizeof digits);
    const char* shown_stamp = format_scts(digits);
    log_print(LOG_INFO, "[%s %d] Info： Received SMS: sender: %s; time: %s; msg: %s", LOG_UNIT, __LINE__,
              Shown(sender).c_str(), shown_stamp, Shown(text).c_str());
    status_note_received();
    record_received_text(sender, text);
    onreceive_start(sender, shown_stamp, text, index);
    // Deleted once, before its command: a reboot must not find it again,
    // and by the time the command and its reply are done the freed index
    // may hold a new message.
    if (index >= 0)
        sms_del(index);
    // The handler matches keywords of at most 63 bytes: the record's cut
    // copy, ended on a character boundary, matches what the whole text does.
    InboxMessage msg;
    memset(&msg, 0, sizeof msg);
    snprintf(msg.sender, sizeof msg.sender, "%s", sender);
    memcpy(msg.stamp, stamp, sizeof msg.stamp);
    msg.stamp[sizeof msg.stamp - 1] = '\0';
    int n = utf8_cut(text, INBOX_TEXT_SIZE - 1);
    memcpy(msg.text, text, n);
    if (get_sms_config()->enabled == 1)
        cmd_handling(&msg);
}

void recvmessage()
{
    const SmsConfig* config = get_sms_config();
    if (config->enabled != 1)
        return;
    if (config->unicode == 1)
        inbox_flush_due_parts();
    // With the modem's count, an empty store costs no read at all and a
    // message behind empty indexes is still found; without it, the scan
    // stops at the first empty index from 1 on.
    int used = 0;
    int total = 0;
    bool counted = sms_count(&used, &total);
    if (counted && used == 0) {
        brenlow.unreadable_left = -1;
        log_print(LOG_DEBUG, "[%s %d] Debug： recvmessage is done", LOG_UNIT, __LINE__);
        return;
    }
    // A store whose unreadable messages were all looked for already is not
    // scanned whole again until its count changes.
    bool whole = counted && used != brenlow.unreadable_left;
    // The store index is 8 bits wide; stop before it would wrap to 0 again.
    int last = whole && total < 255 ? total : 255;
    int found = 0;
    for (int index = 0; index <= last && !(whole && found == used); ++index) {
        InboxMessage msg;
        memset(&msg, 0, sizeof msg);
        if (!sms_read(index, &msg)) {
            if (index == 0 || whole)
                continue;
            break;
        }
        ++found;
        // Without a sender (or a PDU that decodes) a message can be neither
        // answered nor handled; kept, it would hold its slot for ever.
        if (msg.sender[0] == '\0') {
            log_print(LOG_WARNING, "[%s %d] Warning： stored message %d has no sender, deleted: %s", LOG_UNIT,
                      __LINE__, index, Shown(brenlow.last_pdu).c_str());
            record_undeliverable(&msg);
            sms_del(index);
            continue;
        }
        if (config->unicode == 1 && inbox_take_text(index, &msg))
            continue;
        handle_received_text(index, msg.sender, msg.stamp, msg.text);
    }
    if (whole) {
        brenlow.unreadable_left = found < used ? used - found : -1;
        if (found < used)
            log_print(LOG_WARNING, "[%s %d] Warning： modem counts %d messages, %d of them could not be read",
                      LOG_UNIT, __LINE__, used, used - found);
    }
    log_print(LOG_DEBUG, "[%s %d] Debug： recvmessage is done", LOG_UNIT, __LINE__);
}
