// A daemon's status for the web interface and for a person at a shell: a
// small text file in RAM under /var/run, one "key=value" line per field (the
// keys of every daemon are listed in openwrt/status-files.md). It is written
// whole through a rename, only when its text changed, and looked at no more
// than once a second, so a busy loop costs neither flash nor CPU.
#pragma once

#include <cstddef>

// The whole text; the largest (moskar with two 32-day series) needs under half.
constexpr int STATUS_TEXT_SIZE = 4096;
// Milliseconds between two looks at a daemon's state.
constexpr long long STATUS_LOOK_INTERVAL_MS = 1000;

// Kept in static storage by the daemon that publishes it.
struct StatusFile {
    explicit StatusFile(const char* fixed_path) : path(fixed_path) {}
    const char* path;                     // fixed absolute path, rooted when written
    char text[STATUS_TEXT_SIZE] = {};     // the text being built
    size_t length = 0;
    char written[STATUS_TEXT_SIZE] = {};  // what the file holds
    size_t written_length = 0;
    bool ever_written = false;
    long long next_look_ms = 0;           // monotonic clock
};

// When a second has passed since the last look, starts the text with the
// writer's pid and returns true: the caller adds its fields with status_add
// and hands the text to status_publish. False (nothing to do) before.
bool status_begin(StatusFile& status);
// Adds "key=value\n". Control characters in the value are written as \xNN,
// so outside text (a host name, a spool line) stays on its line; a line that
// does not fit any more is left out whole.
void status_add(StatusFile& status, const char* key, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Writes the built text when it differs from the file's; 0 when written or
// unchanged, -1 when the write failed (tried again at the next look).
int status_publish(StatusFile& status);
