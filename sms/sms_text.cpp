// Long messages joined from the parts held in their file.
#include "sms_text.h"

#include <cstdio>
#include <cstring>

#include "log.h"

constexpr char LOG_UNIT[] = "sms_text.cpp";

namespace {

// Parts of long messages held until their message is whole, loaded from their
// file at the first use; taken: a message was taken out of them since the
// file was last written. No message waits here between calls: each comes in
// by an argument and leaves by a result. Zero-initialised, so its 40 KB take
// no room in the binary.
struct HeldParts {
    ConcatStore store;
    bool loaded;
    bool taken;
};
HeldParts held;

ConcatStore* held_parts()
{
    if (!held.loaded) {
        concat_load(&held.store, CONCAT_STORE_PATH);
        held.loaded = true;
    }
    return &held.store;
}

void as_part(const StoredMessage* msg, ConcatPart* part)
{
    memset(part, 0, sizeof *part);
    snprintf(part->sender, sizeof part->sender, "%s", msg->sender);
    snprintf(part->stamp, sizeof part->stamp, "%s", msg->stamp);
    part->ref = msg->concat.ref;
    part->total = msg->concat.total;
    part->part = msg->concat.part;
    part->arrived = concat_now();
    snprintf(part->text, sizeof part->text, "%s", msg->text);
}

void as_whole(const StoredMessage* msg, JoinedMessage* out)
{
    memset(out, 0, sizeof *out);
    snprintf(out->sender, sizeof out->sender, "%s", msg->sender);
    snprintf(out->stamp, sizeof out->stamp, "%s", msg->stamp);
    out->total = out->arrived_parts = 1;
    snprintf(out->text, sizeof out->text, "%s", msg->text);
}

} // namespace

bool join_message(const StoredMessage* msg, JoinedMessage* out)
{
    if (msg->concat.total == 0) {
        as_whole(msg, out);
        return true;
    }
    ConcatPart part;
    as_part(msg, &part);
    ConcatStore* store = held_parts();
    switch (concat_add(store, &part, out)) {
    case ConcatAdd::BadHeader:
        break;
    case ConcatAdd::Held:
        // Deleted from the modem only once the file holds it; else it is
        // handled at once as a message of its own, so it is not lost.
        if (concat_save(store, CONCAT_STORE_PATH) != 0) {
            LOG(LOG_ERROR, "Error： cannot keep part %d of %d from %s in %s", part.part, part.total, part.sender,
                CONCAT_STORE_PATH);
            concat_remove(store, &part);
            break;
        }
        LOG(LOG_INFO, "Info： part %d of %d from %s kept, ref %d", part.part, part.total, part.sender, part.ref);
        return false;
    case ConcatAdd::Complete:
        held.taken = true;
        return true;
    }
    as_whole(msg, out);
    return true;
}

bool join_take_due(const StoredMessage* incoming, JoinedMessage* out)
{
    ConcatPart part;
    if (incoming) {
        if (incoming->concat.total == 0)
            return false;
        as_part(incoming, &part);
    }
    if (!concat_take_due(held_parts(), concat_now(), incoming ? &part : nullptr, out))
        return false;
    held.taken = true;
    if (out->arrived_parts < out->total)
        LOG(LOG_WARNING, "Warning： long message from %s incomplete: %d of %d parts arrived", out->sender,
            out->arrived_parts, out->total);
    return true;
}

void join_handled()
{
    if (!held.taken)
        return;
    held.taken = false;
    if (concat_save(&held.store, CONCAT_STORE_PATH) != 0)
        LOG(LOG_ERROR, "Error： cannot write %s", CONCAT_STORE_PATH);
}
