// Every option a daemon reads, in one table: where its value goes in the
// settings record, what the value may be, and what a bad one does. One
// loader reads each with "uci get" and checks each option set once, by
// name, at start.
#pragma once

#include <cstddef>

// A daemon that refuses an option ends with this status (sysexits'
// EX_CONFIG), not 0: its start failed, and its Error lines say why.
constexpr int EXIT_BAD_OPTION = 78;
// Counts and thresholds without a natural limit: up to nine digits, which
// OpenWrt's validate_data reads alike on the router and on a 64-bit host.
constexpr int OPTION_COUNT_MAX = 999999999;

struct OptionRow;

// What a value may be and how it is kept. One object per kind, linked into a
// daemon only when one of its rows names it.
struct OptionType {
    // Whether text is good; when it is and record is given, stores it there
    // (a list may also store its good words).
    bool (*take)(const OptionRow& row, const char* text, void* record);
    // The rule in the words of the init scripts' validation (OpenWrt's
    // validate_data datatypes): a printf format of the row's min and max,
    // or of its destination's size - 1 (sized); nullptr: the row's words.
    const char* rule;
    bool sized;
};

extern const OptionType OPTION_INTEGER; // decimal, min to max, into an int
extern const OptionType OPTION_BYTES;   // decimal, 0 to what 64 bits hold, into a long long
extern const OptionType OPTION_BOOL;    // OpenWrt's bool words (1 on true yes enabled, 0 off false no
                                        // disabled), into an int as 1 or 0
extern const OptionType OPTION_TEXT;    // at most size - 1 characters
extern const OptionType OPTION_WORD;    // one of the quoted words of `words`, e.g. or("month","week"), as text
extern const OptionType OPTION_LETTER;  // one of the quoted letters of `words`, into a char
extern const OptionType OPTION_HOST;    // a host name or an IP address of at most size - 1 characters
extern const OptionType OPTION_CHOICE;  // one of the quoted numbers of `words` (SPEED_RULE), into an int
extern const OptionType OPTION_HOUR;    // an hour, min to max, with ":" and minutes not read; as text
// A daemon whose option needs more (a list of numbers kept sorted) defines a
// type of its own, with option_numbers_ok below.

enum class OnBad : unsigned char {
    Refuse, // an Error line, and the daemon does not start
    Ignore, // a Warning line, and the option reads as if it were not set
};

// Section and option names in place: no pointers a position-independent
// daemon would relocate at every start.
constexpr int OPTION_SECTION_SIZE = 8;
constexpr int OPTION_NAME_SIZE = 16;

struct OptionRow {
    char section[OPTION_SECTION_SIZE]; // "": the table's
    char option[OPTION_NAME_SIZE];
    const OptionType* type;
    OnBad on_bad;
    unsigned short offset; // destination in the settings record
    unsigned short size;   // bytes of the destination
    int min = 0;
    int max = 0;
    const char* words = nullptr; // OPTION_WORD, OPTION_LETTER, OPTION_CHOICE: the accepted values, as their rule
};

// Destination of a row: offset and size of a field of the settings record.
#define OPTION_FIELD(record, field)                                                                        \
    static_cast<unsigned short>(offsetof(record, field)), static_cast<unsigned short>(sizeof(record::field))

struct OptionTable {
    const char* package;
    const char* section; // of rows without one; nullptr: the section named at load
    const OptionRow* rows;
    int count;
};

// Reads every option of the table, stores what its row accepts (an option
// not set, or ignored, leaves its field as the caller preset it, zero or
// empty unless the daemon says otherwise), and logs an Error for each
// refused option and a Warning for each ignored one, also on standard error
// for logread. section: the section of a table that names none (an instance's).
// Returns the number of options refused.
int load_options(const OptionTable& table, void* record, const char* section);

// Whether a row accepts a value as uci get prints it.
bool option_value_ok(const OptionRow& row, const char* text);
// The rule a row checks, in the words of the init scripts' validation
// (OpenWrt's validate_data datatypes), e.g. "range(0,5)".
void option_rule_text(const OptionRow& row, char* out, int size);
// A decimal number within min and max (a sign, then digits, nothing else).
bool option_number(const char* text, int min, int max, int* out);
// Whether text, shorter than the row's size, holds only such numbers (min to
// max), separated by blanks.
bool option_numbers_ok(const OptionRow& row, const char* text);
