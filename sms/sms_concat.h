// Parts of long (concatenated) messages, held in a file until the whole
// message has arrived, so that a restart of the daemon loses none of them.
#pragma once

#include "gsm_text.h"
#include "inbox_message.h"

// Held parts, one line per part; /tmp so that it lasts as long as the
// modem's own store does not need it, and goes with a reboot.
constexpr const char* CONCAT_STORE_PATH = "/tmp/sms_parts";
// Messages held at once, and parts over all of them; a part that needs more
// room first has the oldest message handled with what it has.
constexpr int CONCAT_MESSAGES_MAX = 16;
constexpr int CONCAT_PARTS_MAX = 64;
// A message still missing parts this long after its first part is handled
// with what arrived.
constexpr int CONCAT_TIMEOUT_SECONDS = 600;
// Joined text, terminator included: longer messages are cut.
constexpr int CONCAT_TEXT_SIZE = 4096;
// One line of the store file: three hex fields and five numbers.
constexpr int CONCAT_LINE_SIZE = 2 * (INBOX_SENDER_SIZE + INBOX_STAMP_SIZE + GSM_TEXT_UTF8_SIZE) + 96;

struct ConcatPart {
    char sender[INBOX_SENDER_SIZE];
    char stamp[INBOX_STAMP_SIZE];
    int ref;
    int total;
    int part;
    long long arrived; // seconds on the boot clock
    char text[GSM_TEXT_UTF8_SIZE];
};

struct ConcatStore {
    int count;
    ConcatPart parts[CONCAT_PARTS_MAX];
};

// A whole message: joined from its parts, or one that came whole (total 1).
struct JoinedMessage {
    char sender[INBOX_SENDER_SIZE];
    char stamp[INBOX_STAMP_SIZE]; // of the first part that arrived
    int total;
    int arrived_parts;
    char text[CONCAT_TEXT_SIZE];
};

enum class ConcatAdd { Held, Complete, BadHeader };

// Seconds on the clock the store counts its time-out by.
long long concat_now();

// Adds part: BadHeader (count 0, part 0 or above the count, a part held
// already; logged) leaves the store unchanged; Complete joins the message
// into out and takes its parts out of the store.
ConcatAdd concat_add(ConcatStore* store, const ConcatPart* part, JoinedMessage* out);
// Takes the oldest message out into out when it is due: missing parts for
// CONCAT_TIMEOUT_SECONDS, or in the way of incoming (null: none) for lack of
// room. Returns 1 when it took one.
int concat_take_due(ConcatStore* store, long long now, const ConcatPart* incoming, JoinedMessage* out);
// Takes a part out again (one whose saving failed).
void concat_remove(ConcatStore* store, const ConcatPart* part);

// The file under ROUTER_ROOT: a missing file is an empty store, lines that
// do not parse are dropped. Saving writes a new file and renames it over the
// old one; -1 when that fails.
void concat_load(ConcatStore* store, const char* path);
int concat_save(const ConcatStore* store, const char* path);

// One line of the file, and back; false for a line that does not parse.
int concat_format_line(const ConcatPart* part, char* out, int size);
bool concat_parse_line(const char* line, ConcatPart* part);
