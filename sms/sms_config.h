// SMS settings, command keywords and the list of authorised phone numbers.
#pragma once

// Command keyword slots; the order is the match order.
constexpr int COMMAND_SLOTS = 19;
// One keyword: at most 63 characters plus the terminator.
constexpr int KEYWORD_SIZE = 64;
// Phone number of the list: 16 characters plus the terminator.
constexpr int PHONE_NUMBER_SIZE = 17;
// Path of the program run for each received message, terminator included.
constexpr int ONRECEIVE_PATH_SIZE = 256;
// Line buffer of the phone file; longer lines are taken in parts.
constexpr int PHONE_LINE_SIZE = 512;
// Retry time of refused spool messages when the option is absent: a day.
constexpr int RETRY_TIME_DEFAULT_S = 86400;

enum CommandSlot {
    CMD_REBOOT = 0,
    CMD_CELLSTATUS,
    CMD_CELLUP,
    CMD_CELLDOWN,
    CMD_DIO0SET,
    CMD_DIO0RESET,
    CMD_DIO1SET,
    CMD_DIO1RESET,
    CMD_DIO2SET,
    CMD_DIO2RESET,
    CMD_DIO3SET,
    CMD_DIO3RESET,
    CMD_DIOSTATUS,
    CMD_WIFION,
    CMD_WIFIOFF,
    CMD_OPERLIST,
    CMD_OPERSET,
    CMD_FORCECELLUP,
    CMD_SIMSWITCH,
};

// UCI option name of each slot, read as "sms.command.<name>".
constexpr const char* command_option_names[COMMAND_SLOTS] = {
    "reboot",  "cellstatus", "cellup",    "celldown",  "dio0set",  "dio0reset", "dio1set",
    "dio1reset", "dio2set",  "dio2reset", "dio3set",   "dio3reset", "diostatus", "wifion",
    "wifioff", "operlist",   "operset",   "forcecellup", "simswitch",
};

struct PhoneEntry {
    int alarm;
    int command;
    char number[PHONE_NUMBER_SIZE];
    PhoneEntry* next;
};

struct SmsConfig {
    int enabled;
    int alarmenabled;
    int smsack;
    int fixplus;
    int rssialarm;
    int sigthres;
    int failedthres;
    int normalthres;
    PhoneEntry* phones;
    char keywords[COMMAND_SLOTS][KEYWORD_SIZE];
    int debug;
    // 1: texts as phones write them (GSM alphabet, Unicode, long messages);
    // absent or 0: septet values and low UCS2 octets as bytes, one PDU each.
    int unicode;
    // Program run for each received message; empty: none.
    char onreceive[ONRECEIVE_PATH_SIZE];
    // Seconds a refused spool message is tried again before it is given up.
    int retrytime;
};

struct FieldSpan {
    int start;
    int length;
};

struct OptionTable;
extern const OptionTable SMS_OPTIONS;

// Reads the settings and the phone list; returns the number of options refused.
int prepare_config();
SmsConfig* get_sms_config();
PhoneEntry* find_phone(const char* number);
int split_fields(const char* text, FieldSpan* spans, int max, char separator);
void trim_crlf(char* text);

// Parses one phone file line into entry (next left null). Returns 1 for an
// entry to keep, 0 for a line that is skipped silently, -1 for a line
// whose number is too short.
int parse_phone_line(const char* line, PhoneEntry* entry);
// Reads the phone file and appends its entries to the configuration's list.
void load_phone_list();
