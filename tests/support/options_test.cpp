// The options loader: the checks of each type, and a load through the uci
// stand-in that refuses, ignores and keeps presets by name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "log.h"
#include "options.h"
#include "sandbox.h"
#include "serial.h"

namespace {

struct Case {
    OptionRow row;
    const char* value;
    bool ok;
};

TEST(OptionChecks, AcceptOnlyWhatTheirDestinationCanHold)
{
    const OptionRow integer = {"s", "o", &OPTION_INTEGER, OnBad::Refuse, 0, 4, -5, 2147483647};
    const OptionRow text = {"s", "o", &OPTION_TEXT, OnBad::Refuse, 0, 4};
    const OptionRow word = {"s", "o", &OPTION_WORD, OnBad::Refuse, 0, 16, 0, 0, R"(or("month","week","day"))"};
    const OptionRow letter = {"s", "o", &OPTION_LETTER, OnBad::Refuse, 0, 1, 0, 0, PARITY_RULE};
    const OptionRow host = {"s", "o", &OPTION_HOST, OnBad::Refuse, 0, 16};
    const OptionRow speed = {"s", "o", &OPTION_CHOICE, OnBad::Refuse, 0, 4, 0, 0, SPEED_RULE};
    const OptionRow hour = {"s", "o", &OPTION_HOUR, OnBad::Refuse, 0, 8, 0, 23};
    const OptionRow flag = {"s", "o", &OPTION_BOOL, OnBad::Refuse, 0, 4};
    const Case cases[] = {
        {integer, "-5", true},        {integer, "-6", false},      {integer, "2147483647", true},
        {integer, "2147483648", false}, {integer, "+7", true},     {integer, "100000000000000000000", false},
        {integer, "7x", false},       {integer, " 7", false},      {integer, "-", false},
        {text, "abc", true},          {text, "abcd", false},       {word, "week", true},
        {word, "wee", false},         {word, "month week", false}, {letter, "E", true},
        {letter, "None", false},      {letter, "x", false},        {host, "gps.example.com", true},
        {host, "10.0.0.1", true},     {host, "fe80::1", true},     {host, "a..b", false},
        {host, "$(reboot)", false},   {host, "0123456789abcdef", false}, {speed, "9600", true},
        {speed, "600", false},        {speed, "-1", false},        {hour, "08:30", true},
        {hour, "23", true},           {hour, "24", false},         {hour, "-1", false},
        {hour, ":30", false},         {flag, "Yes", true},         {flag, "2", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(option_value_ok(c.row, c.value), c.ok) << c.value;
    const OptionRow numbers = {"s", "o", &OPTION_TEXT, OnBad::Ignore, 0, 16, 1, 100};
    EXPECT_TRUE(option_numbers_ok(numbers, "50 80  100"));
    EXPECT_TRUE(option_numbers_ok(numbers, ""));
    EXPECT_FALSE(option_numbers_ok(numbers, "50 0"));
    for (const SpeedEntry& entry : speed_table)
        EXPECT_TRUE(option_value_ok(speed, std::to_string(entry.speed).c_str())) << entry.speed;
}

struct Record {
    int count;
    char name[8];
    char letter;
    int flag;
    char seen[32];
    char lines[8];
};

// A list type of the test's own, as a daemon defines one.
bool take_seen(const OptionRow& row, const char* text, void* record)
{
    if (record)
        snprintf(static_cast<Record*>(record)->seen, sizeof Record::seen, "%s", text);
    return option_numbers_ok(row, text);
}

constexpr OptionType SEEN = {take_seen, "range(%d,%d)", false};

TEST(OptionLoad, RefusesAndIgnoresByNameAndKeepsPresets)
{
    Sandbox sb;
    setenv("ROUTER_ROOT", sb.root().c_str(), 1);
    std::string saved_path = getenv("PATH");
    setenv("PATH", sb.env_path().substr(5).c_str(), 1);
    static constexpr OptionRow ROWS[] = {
        {"main", "count", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(Record, count), 0, 9},
        {"main", "name", &OPTION_TEXT, OnBad::Ignore, OPTION_FIELD(Record, name)},
        {"main", "letter", &OPTION_LETTER, OnBad::Refuse, OPTION_FIELD(Record, letter), 0, 0, R"(or("N","E"))"},
        {"", "flag", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(Record, flag)},
        {"main", "seen", &SEEN, OnBad::Ignore, 0, 32, 1, 9},
        {"main", "lines", &OPTION_TEXT, OnBad::Refuse, OPTION_FIELD(Record, lines)},
    };
    const OptionTable table = {"pkg", nullptr, ROWS, 6};
    // uci get prints a value's first line; the loader takes nothing more.
    sb.uci_package("pkg", "config main 'main'\n\toption count '10'\n\toption name '" + std::string(600, 'L') +
                              "'\n\toption letter 'E'\n\toption seen '1 x 2'\n\toption lines 'a b\nc'\n"
                              "config inst 'inst2'\n\toption flag 'off'\nconfig inst 'inst1'\n\toption flag '\x01'\n");
    log_set_file("/tmp/options.log");
    Record r = {0, "preset", 0, 1, "", ""};
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_options(table, &r, "inst1"), 2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.count, 0);
    EXPECT_STREQ(r.name, "preset");
    EXPECT_EQ(r.letter, 'E');
    EXPECT_EQ(r.flag, 1);
    EXPECT_STREQ(r.seen, "1 x 2");
    EXPECT_STREQ(r.lines, "a b");
    const std::string named[] = {
        "Error： option pkg.main.count '10' is not range(0,9), not started",
        "Warning： option pkg.main.name '" + std::string(64, 'L') + "...' is not maxlength(7), ignored",
        "Error： option pkg.inst1.flag '?' is not bool, not started",
        "Warning： option pkg.main.seen '1 x 2' is not range(1,9), ignored",
    };
    std::string log = sb.read("/tmp/options.log");
    for (const std::string& line : named) {
        EXPECT_NE(log.find(line + "\n"), std::string::npos) << line << "\n" << log;
        EXPECT_NE(err.find(line.substr(line.find("option")) + "\n"), std::string::npos) << err;
    }
    // The other instance's section is not this one's; a missing option is no refusal.
    sb.uci_package("pkg", "config inst 'inst2'\n\toption flag 'maybe'\n");
    EXPECT_EQ(load_options(table, &r, "inst1"), 0);
    EXPECT_STREQ(r.name, "preset");
    setenv("PATH", saved_path.c_str(), 1);
    unsetenv("ROUTER_ROOT");
}

} // namespace
