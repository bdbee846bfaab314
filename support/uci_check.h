// Tells whether the uci tool refuses a package whole. A syntax error in a
// package file makes every "uci get" of it fail, so each option would read
// as 0 or empty text without a word; a daemon asks once at start and logs.
#pragma once

// Room for uci's complaint, e.g. "Parse error (invalid command) at line 3, byte 0".
constexpr int UCI_REFUSAL_SIZE = 160;

// True when "uci get <package>" fails with a parse error; reason then holds
// uci's message without its "uci: " prefix. A package that reads, that is
// missing (its options then read as absent, which callers already expect),
// or a uci that cannot be started give false.
bool uci_package_refused(const char* package, char* reason, int size);
