// The key/value command line of the watchdog.
#pragma once

#include "watchdog.h"

enum class ArgResult {
    Ok,       // every word examined (or none, past the word limit)
    ExitNow,  // key without value, bad mode, PID file: exit(1) without the exit path
    ExitPath, // an address that is no IPv4 text: the exit path with status 1
};

// Walks the words one at a time, so a value word is examined as a key in turn.
// Logs its own errors and writes the PID file when asked to.
ArgResult parse_arguments(int argc, char** argv, WatchSettings* settings);

// Logs the first missing required item and returns false when the watch
// cannot start.
bool settings_complete(const WatchSettings& settings);
