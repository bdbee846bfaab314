#include "options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "log.h"
#include "uci_access.h"

constexpr char LOG_UNIT[] = "options.cpp";

namespace {

// A value as uci get prints it: longer than any option's destination, so a
// value that fills it is too long for every reader.
constexpr int VALUE_SIZE = 520;
// "package.section.option" of a row.
constexpr int KEY_SIZE = 128;
// Characters of a bad value shown in its log line; the rest is left out.
constexpr int SHOWN_VALUE_CHARS = 64;
// A rule in validate_data's words; the longest is the list of line speeds.
constexpr int RULE_TEXT_SIZE = 96;
// The line naming a bad option: its key, the value shown, the rule.
constexpr int REPORT_SIZE = 384;
// One number of a list, the hour of an Hour option, a quoted word.
constexpr int WORD_SIZE = 24;
// Host names: the length of a label, and of the last one, as the init
// scripts' "host" allows.
constexpr int HOST_LABEL_MAX = 63;
constexpr int HOST_LAST_LABEL_MAX = 255;

template <typename T> bool put(const OptionRow& row, void* record, T value)
{
    if (record)
        *reinterpret_cast<T*>(static_cast<char*>(record) + row.offset) = value;
    return true;
}

bool take_text(const OptionRow& row, const char* text, void* record)
{
    if (strlen(text) >= row.size)
        return false;
    if (record)
        snprintf(static_cast<char*>(record) + row.offset, row.size, "%s", text);
    return true;
}

bool take_int(const OptionRow& row, const char* text, void* record)
{
    int value;
    return option_number(text, row.min, row.max, &value) && put(row, record, value);
}

bool take_bytes(const OptionRow& row, const char* text, void* record)
{
    char* end;
    errno = 0;
    long long value = strtoll(text, &end, 10);
    return *text >= '0' && *text <= '9' && !*end && errno != ERANGE && put(row, record, value);
}

// OpenWrt's bool words, as the init scripts' validation takes them; false
// ones first. Kept in place, not as pointers the loader would relocate.
bool take_bool(const OptionRow& row, const char* text, void* record)
{
    static constexpr char WORDS[][9] = {"0", "off", "false", "no", "disabled", "1", "on", "true", "yes", "enabled"};
    for (int i = 0; i < 10; ++i)
        if (strcasecmp(text, WORDS[i]) == 0)
            return put(row, record, i < 5 ? 0 : 1);
    return false;
}

// One of the words quoted in the rule, as in or("month","week","day"),
// stored as the destination holds it: a letter, a number or the text.
bool take_word(const OptionRow& row, const char* text, void* record)
{
    char quoted[WORD_SIZE];
    int n = snprintf(quoted, sizeof quoted, "\"%s\"", text);
    if (n <= 2 || n >= WORD_SIZE || strchr(text, '"') || !strstr(row.words, quoted))
        return false;
    if (row.type == &OPTION_LETTER)
        return !text[1] && put(row, record, text[0]);
    // The rule quotes each number, so the word is all digits.
    if (row.type == &OPTION_CHOICE)
        return put(row, record, atoi(text));
    return take_text(row, text, record);
}

// As validate_data's "hostname": letters, digits, '_' and '-' in labels of
// 1 to 63 characters between dots, the last of 1 to 255.
bool host_name_ok(const char* text)
{
    const char* last = text;
    const char* p = text;
    for (; *p; ++p) {
        if (*p == '.') {
            if (p == last || p - last > HOST_LABEL_MAX)
                return false;
            last = p + 1;
        } else if (!(*p >= 'A' && *p <= 'Z') && !(*p >= 'a' && *p <= 'z') && !(*p >= '0' && *p <= '9') && *p != '_'
                   && *p != '-') {
            return false;
        }
    }
    return p > last && p - last <= HOST_LAST_LABEL_MAX;
}

bool take_host(const OptionRow& row, const char* text, void* record)
{
    unsigned char address[16];
    bool ok = host_name_ok(text) || inet_pton(AF_INET, text, address) == 1 || inet_pton(AF_INET6, text, address) == 1;
    return ok && take_text(row, text, record);
}

// The hour before ":"; what follows it is not read.
bool take_hour(const OptionRow& row, const char* text, void* record)
{
    char hour[WORD_SIZE];
    size_t len = strcspn(text, ":");
    snprintf(hour, sizeof hour, "%.*s", static_cast<int>(len), text);
    return len < sizeof hour && take_int(row, hour, nullptr) && take_text(row, text, record);
}

// Names a bad option, its value and the rule it breaks, in the log and on
// standard error (procd hands that to logread).
void report(const OptionRow& row, const char* key, const char* text)
{
    // The value on one line: control characters shown as '?'.
    char shown[SHOWN_VALUE_CHARS + 4];
    int n = 0;
    for (; text[n] && n < SHOWN_VALUE_CHARS; ++n)
        shown[n] = static_cast<unsigned char>(text[n]) < 0x20 || text[n] == 0x7f ? '?' : text[n];
    snprintf(shown + n, 4, "%s", text[n] ? "..." : "");
    char rule[RULE_TEXT_SIZE];
    option_rule_text(row, rule, sizeof rule);
    bool refused = row.on_bad == OnBad::Refuse;
    char line[REPORT_SIZE];
    snprintf(line, sizeof line, "option %s '%s' is not %s, %s", key, shown, rule, refused ? "not started" : "ignored");
    if (refused)
        LOG(LOG_ERROR, "Error： %s", line);
    else
        LOG(LOG_WARNING, "Warning： %s", line);
    if (log_get_output() != LOG_OUT_STDERR)
        fprintf(stderr, "%s\n", line);
}

} // namespace

const OptionType OPTION_INTEGER = {take_int, "range(%d,%d)", false};
const OptionType OPTION_BYTES = {take_bytes, "range(0,9223372036854775807)", false};
const OptionType OPTION_BOOL = {take_bool, "bool", false};
const OptionType OPTION_TEXT = {take_text, "maxlength(%d)", true};
const OptionType OPTION_WORD = {take_word, nullptr, false};
const OptionType OPTION_LETTER = {take_word, nullptr, false};
const OptionType OPTION_CHOICE = {take_word, nullptr, false};
const OptionType OPTION_HOST = {take_host, "and(host,maxlength(%d))", true};
const OptionType OPTION_HOUR = {take_hour, "range(%d,%d)", false};

bool option_number(const char* text, int min, int max, int* out)
{
    // strtol alone would also take blanks before the number.
    const char* digits = *text == '-' || *text == '+' ? text + 1 : text;
    char* end;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (*digits < '0' || *digits > '9' || *end || errno == ERANGE || value < min || value > max)
        return false;
    *out = static_cast<int>(value);
    return true;
}

bool option_numbers_ok(const OptionRow& row, const char* text)
{
    bool ok = strlen(text) < row.size;
    for (const char* p = text; *p;) {
        size_t len = strcspn(p, " \t");
        char word[WORD_SIZE];
        snprintf(word, sizeof word, "%.*s", static_cast<int>(len), p);
        int value;
        if (len > 0 && (len >= sizeof word || !option_number(word, row.min, row.max, &value)))
            ok = false;
        p += len + (p[len] ? 1 : 0);
    }
    return ok;
}

bool option_value_ok(const OptionRow& row, const char* text)
{
    return strlen(text) < VALUE_SIZE - 1 && row.type->take(row, text, nullptr);
}

void option_rule_text(const OptionRow& row, char* out, int size)
{
    const OptionType& type = *row.type;
    if (!type.rule)
        snprintf(out, size, "%s", row.words);
    else if (type.sized)
        snprintf(out, size, type.rule, row.size - 1);
    else
        snprintf(out, size, type.rule, row.min, row.max);
}

int load_options(const OptionTable& table, void* record, const char* section)
{
    int refused = 0;
    for (int i = 0; i < table.count; ++i) {
        const OptionRow& row = table.rows[i];
        char key[KEY_SIZE];
        const char* own = row.section[0] ? row.section : table.section ? table.section : section;
        snprintf(key, sizeof key, "%s.%s.%s", table.package, own, row.option);
        // A value never holds a newline as read: one left there means uci printed nothing.
        char value[VALUE_SIZE];
        value[0] = '\n';
        value[1] = '\0';
        get_data_str(key, value, sizeof value);
        if (value[0] == '\n')
            continue;
        // A type stores only what is good (or, for a list, its good words).
        if (strlen(value) < VALUE_SIZE - 1 && row.type->take(row, value, record))
            continue;
        report(row, key, value);
        if (row.on_bad == OnBad::Refuse)
            ++refused;
    }
    return refused;
}
