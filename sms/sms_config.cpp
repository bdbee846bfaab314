#include "sms_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brenlow_state.h"
#include "config.h"
#include "line_reader.h"
#include "log.h"
#include "paths.h"
#include "shown_text.h"
#include "unique_fd.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "sms_config.cpp";

namespace {

// A flag is read from at most this many characters of its field.
constexpr int FLAG_DIGITS = 8;

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
    log_print(LOG_INFO, "[%s %d] Info： Phone Number:%s %d, sms command:%d, sms alarm: %d ", LOG_UNIT, __LINE__,
              Shown(entry->number).c_str(), static_cast<int>(strlen(entry->number)), entry->command, entry->alarm);
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
        log_print(LOG_DEBUG, "[%s %d] Debug： %s", LOG_UNIT, __LINE__, Shown(line).c_str());
        PhoneEntry parsed;
        int kept = parse_phone_line(line, &parsed);
        if (kept == 0)
            continue;
        if (kept < 0) {
            log_print(LOG_ERROR, "[%s %d] Error： no phone number is detected %s", LOG_UNIT, __LINE__,
                      Shown(line).c_str());
            continue;
        }
        // Entries live for the whole process; the list is never freed. malloc
        // rather than new keeps the daemon free of the C++ runtime library.
        auto* entry = static_cast<PhoneEntry*>(malloc(sizeof(PhoneEntry)));
        if (!entry)
            break;
        *entry = parsed;
        log_print(LOG_DEBUG, "[%s %d] Debug： add phone number(%s) into list ", LOG_UNIT, __LINE__,
                  Shown(entry->number).c_str());
        *tail = entry;
        tail = &entry->next;
    }
}

void prepare_config()
{
    printf("prepare_config\n");
    SmsConfig& c = brenlow.config;
    c = SmsConfig{};
    get_data_int("sms.command.enabled", &c.enabled);
    get_data_int("sms.general.alarmenabled", &c.alarmenabled);
    get_data_int("sms.command.smsack", &c.smsack);
    get_data_int("sms.command.fixplus", &c.fixplus);
    get_data_int("sms.general.debug", &c.debug);
    log_set_level(c.debug);
    for (int slot = 0; slot < COMMAND_SLOTS; ++slot) {
        char key[64];
        snprintf(key, sizeof key, "sms.command.%s", command_option_names[slot]);
        get_data_str(key, c.keywords[slot], KEYWORD_SIZE);
    }
    get_data_int("sms.rssi.rssialarm", &c.rssialarm);
    get_data_int("sms.rssi.sigthres", &c.sigthres);
    get_data_int("sms.rssi.failedthres", &c.failedthres);
    get_data_int("sms.rssi.normalthres", &c.normalthres);
    get_data_int("sms.general.unicode", &c.unicode);
    // get_data_str leaves the default in place when the option is absent.
    char retry[16];
    snprintf(retry, sizeof retry, "%d", RETRY_TIME_DEFAULT_S);
    get_data_str("sms.general.retrytime", retry, sizeof retry);
    c.retrytime = atoi(retry) > 0 ? atoi(retry) : 0;
    load_phone_list();
    brenlow.config_loaded = true;
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
