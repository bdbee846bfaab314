// Stored messages as UTF-8 text, and the joining of long messages.
#include "sms_text.h"

#include <cstdio>
#include <cstring>

#include "cdma_text.h"
#include "gsm_alphabet.h"
#include "gsm_text.h"
#include "log.h"
#include "sms_concat.h"
#include "sms_inbox.h"
#include "sms_manager.h"
#include "stored_pdu.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "sms_text.cpp";

namespace {

// The message the last read decoded, whole, until the inbox takes it.
struct ReadText {
    bool valid;
    ConcatHeader concat;
    char text[GSM_TEXT_UTF8_SIZE];
};

// The inbox's view of long messages: the last read and the held parts,
// loaded from their file at the first use.
struct TextInbox {
    ReadText last;
    bool loaded;
    ConcatStore store;
    JoinedMessage joined;
};
TextInbox inbox;

ConcatStore* held_parts()
{
    if (!inbox.loaded) {
        concat_load(&inbox.store, CONCAT_STORE_PATH);
        inbox.loaded = true;
    }
    return &inbox.store;
}

void save_held_parts()
{
    if (concat_save(&inbox.store, CONCAT_STORE_PATH) != 0)
        log_print(LOG_ERROR, "[%s %d] Error： cannot write %s", LOG_UNIT, __LINE__, CONCAT_STORE_PATH);
}

// The cut copy of the text in the inbox record; commands are short, so the
// handler sees all it can match.
void take_into_record(InboxMessage* msg, const char* sca, const char* tpa, const char* scts, int pid)
{
    char cut[INBOX_TEXT_SIZE];
    int n = utf8_cut(inbox.last.text, INBOX_TEXT_SIZE - 1);
    memcpy(cut, inbox.last.text, n);
    cut[n] = '\0';
    take_decoded(msg, sca, tpa, pid, inbox.last.text, scts);
    memcpy(msg->text, cut, n + 1);
    inbox.last.valid = true;
}

void handle_joined(int index, const JoinedMessage* joined)
{
    if (joined->arrived_parts < joined->total)
        log_print(LOG_WARNING, "[%s %d] Warning： long message from %s incomplete: %d of %d parts arrived", LOG_UNIT,
                  __LINE__, joined->sender, joined->arrived_parts, joined->total);
    handle_received_text(index, joined->sender, joined->stamp, joined->text);
}

} // namespace

int gsm_take_text_pdu(const char* pdu, InboxMessage* msg)
{
    ShortMessage sm;
    gsm_decode_text(pdu, &sm, inbox.last.text, sizeof inbox.last.text, &inbox.last.concat);
    // The fields are filled by a decoder of outside input: never trust a terminator.
    char sca[sizeof sm.sca + 1] = {};
    char tpa[sizeof sm.tpa + 1] = {};
    char scts[sizeof sm.scts + 1] = {};
    copy_text(sca, sizeof sca, sm.sca, sizeof sm.sca);
    copy_text(tpa, sizeof tpa, sm.tpa, sizeof sm.tpa);
    copy_text(scts, sizeof scts, sm.scts, sizeof sm.scts);
    take_into_record(msg, sca, tpa, scts, sm.tp_pid);
    return 1;
}

int cdma_take_text_pdu(const char* pdu, InboxMessage* msg)
{
    CdmaShortMessage sm;
    cdma_decode_text(pdu, &sm, inbox.last.text, sizeof inbox.last.text, &inbox.last.concat);
    char tpa[sizeof sm.tpa + 1] = {};
    char scts[sizeof sm.scts + 1] = {};
    copy_text(tpa, sizeof tpa, sm.tpa, sizeof sm.tpa);
    copy_text(scts, sizeof scts, sm.scts, sizeof sm.scts);
    take_into_record(msg, "", tpa, scts, sm.tp_pid);
    return 1;
}

int inbox_take_text(int index, const InboxMessage* msg)
{
    if (!inbox.last.valid)
        return 0;
    inbox.last.valid = false;
    const ReadText& last = inbox.last;
    if (last.concat.total == 0) {
        handle_received_text(index, msg->sender, msg->stamp, last.text);
        return 1;
    }
    ConcatPart part;
    memset(&part, 0, sizeof part);
    snprintf(part.sender, sizeof part.sender, "%s", msg->sender);
    memcpy(part.stamp, msg->stamp, sizeof part.stamp);
    part.stamp[sizeof part.stamp - 1] = '\0';
    part.ref = last.concat.ref;
    part.total = last.concat.total;
    part.part = last.concat.part;
    part.arrived = concat_now();
    snprintf(part.text, sizeof part.text, "%s", last.text);

    ConcatStore* store = held_parts();
    while (concat_take_due(store, part.arrived, &part, &inbox.joined)) {
        handle_joined(-1, &inbox.joined);
        save_held_parts();
    }
    switch (concat_add(store, &part, &inbox.joined)) {
    case ConcatAdd::BadHeader:
        handle_received_text(index, msg->sender, msg->stamp, last.text);
        break;
    case ConcatAdd::Held:
        // Deleted from the modem only once the file holds it; else it is
        // handled at once as a message of its own, so it is not lost.
        if (concat_save(store, CONCAT_STORE_PATH) != 0) {
            log_print(LOG_ERROR, "[%s %d] Error： cannot keep part %d of %d from %s in %s", LOG_UNIT, __LINE__,
                      part.part, part.total, part.sender, CONCAT_STORE_PATH);
            concat_remove(store, &part);
            handle_received_text(index, msg->sender, msg->stamp, last.text);
            break;
        }
        log_print(LOG_INFO, "[%s %d] Info： part %d of %d from %s kept, ref %d", LOG_UNIT, __LINE__, part.part,
                  part.total, part.sender, part.ref);
        sms_del(index);
        break;
    case ConcatAdd::Complete:
        handle_joined(index, &inbox.joined);
        save_held_parts();
        break;
    }
    return 1;
}

void inbox_flush_due_parts()
{
    ConcatStore* store = held_parts();
    while (concat_take_due(store, concat_now(), nullptr, &inbox.joined)) {
        handle_joined(-1, &inbox.joined);
        save_held_parts();
    }
}
