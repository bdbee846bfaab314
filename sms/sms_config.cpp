#include "sms_config.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brenlow_state.h"
#include "line_reader.h"
#include "log.h"
#include "options.h"
#include "paths.h"
#include "shown_text.h"
#include "unique_fd.h"

constexpr char LOG_UNIT[] = "sms_config.cpp";

namespace {

// A flag is read from at most this many characters of its field.
constexpr int FLAG_DIGITS = 8;

constexpr OptionRow keyword_row(int slot)
{
    OptionRow row = {"command", "", &OPTION_TEXT, OnBad::Refuse,
                     static_cast<unsigned short>(offsetof(SmsConfig, keywords) + slot * KEYWORD_SIZE), KEYWORD_SIZE};
    for (int i = 0; command_option_names[slot][i] && i < OPTION_NAME_SIZE - 1; ++i)
        row.option[i] = command_option_names[slot][i];
    return row;
}

constexpr OptionRow ROWS[] = {
    // A level of 0 or below silences the log.
    {"general", "debug", &OPTION_INTEGER, OnBad::Ignore, OPTION_FIELD(SmsConfig, debug), 0, 5},
    {"general", "alarmenabled", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(SmsConfig, alarmenabled)},
    {"general", "unicode", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(SmsConfig, unicode)},
    // The program run for each received message; empty runs nothing.
    {"general", "onreceive", &OPTION_TEXT, OnBad::Refuse, OPTION_FIELD(SmsConfig, onreceive)},
    // Seconds a refused spool message keeps being tried; absent: a day, 0: never again.
    {"general", "retrytime", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(SmsConfig, retrytime), 0, OPTION_COUNT_MAX},
    {"command", "enabled", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(SmsConfig, enabled)},
    {"command", "smsack", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(SmsConfig, smsack)},
    {"command", "fixplus", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(SmsConfig, fixplus)},
    keyword_row(0), keyword_row(1), keyword_row(2), keyword_row(3), keyword_row(4), keyword_row(5), keyword_row(6),
    keyword_row(7), keyword_row(8), keyword_row(9), keyword_row(10), keyword_row(11), keyword_row(12),
    keyword_row(13), keyword_row(14), keyword_row(15), keyword_row(16), keyword_row(17), keyword_row(18),
    {"rssi", "rssialarm", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(SmsConfig, rssialarm)},
    {"rssi", "sigthres", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(SmsConfig, sigthres), -OPTION_COUNT_MAX,
     OPTION_COUNT_MAX},
    // 0 or less would raise the alarm on a good signal.
    {"rssi", "failedthres", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(SmsConfig, failedthres), 1, OPTION_COUNT_MAX},
    {"rssi", "normalthres", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(SmsConfig, normalthres), 0, OPTION_COUNT_MAX},
};
static_assert(sizeof ROWS / sizeof ROWS[0] == 12 + COMMAND_SLOTS, "one row per keyword slot");

// atoi of at most the first n characters of a span.
int span_atoi(const char* text, const FieldSpan& span, int n)
{
    char digits[FLAG_DIGITS + 1] = {};
    int len = span.length < n ? span.length : n;
    memcpy(digits, text + span.start, len);
    return atoi(digits);
}

} // namespace

void trim_crlf(char* text)
{
    size_t len = strlen(text);
    while (len > 0 && (text[len - 1] == '\r' || text[len - 1] == '\n'))
        text[--len] = '\0';
}

int split_fields(const char* text, FieldSpan* spans, int max, char separator)
{
    if (max <= 0)
        return 0;
    int field = 0;
    spans[0].start = 0;
    spans[0].length = 0;
    int i = 0;
    for (; text[i] != '\0'; ++i) {
        if (text[i] != separator)
            continue;
        if (i == spans[field].start) {
            // Leading or repeated separators make no empty field.
            spans[field].start = i + 1;
            continue;
        }
        spans[field].length = i - spans[field].start;
        if (++field == max)
            return max;
        spans[field].start = i + 1;
        spans[field].length = 0;
    }
    if (i > spans[field].start) {
        spans[field].length = i - spans[field].start;
        ++field;
    } else {
        spans[field].start = 0;
        spans[field].length = 0;
    }
    return field >= 2 ? field : 0;
}

int parse_phone_line(const char* line, PhoneEntry* entry)
{
    FieldSpan spans[4];
    if (split_fields(line, spans, 4, ',') < 3)
        return 0;
    memset(entry, 0, sizeof *entry);
    entry->command = span_atoi(line, spans[0], FLAG_DIGITS);
    entry->alarm = span_atoi(line, spans[1], FLAG_DIGITS);
    int len = spans[2].length < PHONE_NUMBER_SIZE - 1 ? spans[2].length : PHONE_NUMBER_SIZE - 1;
    memcpy(entry->number, line + spans[2].start, len);
    trim_crlf(entry->number);
    LOG(LOG_INFO, "Info： Phone Number:%s %d, sms command:%d, sms alarm: %d ", Shown(entry->number).c_str(),
        static_cast<int>(strlen(entry->number)), entry->command, entry->alarm);
    return strlen(entry->number) < 2 ? -1 : 1;
}

void load_phone_list()
{
    UniqueFile file(fopen(RootedPath("/var/run/phonenum").c_str(), "r"));
    if (!file)
        return;
    PhoneEntry** tail = &brenlow.config.phones;
    while (*tail)
        tail = &(*tail)->next;
    char line[PHONE_LINE_SIZE];
    bool cut = false;
    // The tail of an over-long line must not become an entry of its own.
    while (read_whole_line(file.get(), line, sizeof line, &cut)) {
        LOG(LOG_DEBUG, "Debug： %s", Shown(line).c_str());
        PhoneEntry parsed;
        int kept = parse_phone_line(line, &parsed);
        if (kept == 0)
            continue;
        if (kept < 0) {
            LOG(LOG_ERROR, "Error： no phone number is detected %s", Shown(line).c_str());
            continue;
        }
        // Entries live for the whole process; the list is never freed. malloc
        // rather than new keeps the daemon free of the C++ runtime library.
        auto* entry = static_cast<PhoneEntry*>(malloc(sizeof(PhoneEntry)));
        if (!entry)
            break;
        *entry = parsed;
        LOG(LOG_DEBUG, "Debug： add phone number(%s) into list ", Shown(entry->number).c_str());
        *tail = entry;
        tail = &entry->next;
    }
}

const OptionTable SMS_OPTIONS = {"sms", nullptr, ROWS, sizeof ROWS / sizeof ROWS[0]};

int prepare_config()
{
    printf("prepare_config\n");
    SmsConfig& c = brenlow.config;
    c = SmsConfig{};
    c.retrytime = RETRY_TIME_DEFAULT_S;
    int refused = load_options(SMS_OPTIONS, &c, nullptr);
    log_set_level(c.debug);
    load_phone_list();
    brenlow.config_loaded = true;
    return refused;
}

SmsConfig* get_sms_config()
{
    if (!brenlow.config_loaded)
        prepare_config();
    return &brenlow.config;
}

PhoneEntry* find_phone(const char* number)
{
    for (PhoneEntry* entry = brenlow.config.phones; entry; entry = entry->next)
        if (strcmp(entry->number, number) == 0)
            return entry;
    return nullptr;
}
