// The init scripts refuse what the daemons refuse: each option's rule in an
// init script is the rule the daemon's table names in its own log line, and
// OpenWrt's validate_data gives the daemon's verdict on the same values.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bridge_config.h"
#include "gps_config.h"
#include "sandbox.h"
#include "settings.h"
#include "sms_config.h"

namespace {

struct RuleSource {
    const char* init;
    const char* variable;
    const char* section; // nullptr: moskar's instance sections
    const OptionTable* table;
};

const RuleSource SOURCES[] = {
    {"brenlow", "GENERAL_RULES", "general", &SMS_OPTIONS}, {"brenlow", "COMMAND_RULES", "command", &SMS_OPTIONS},
    {"brenlow", "RSSI_RULES", "rssi", &SMS_OPTIONS},       {"moskar", "TRAFFIC_RULES", nullptr, &TRAFFIC_OPTIONS},
    {"quorral", "GENERAL_RULES", "general", &GPS_OPTIONS}, {"dastral", "GENERAL_RULES", "general", &BRIDGE_OPTIONS},
};

// moskar's own state in its section: written by the daemon, not by a person.
const std::set<std::string> STATE_OPTIONS = {"used", "endtime", "alarmsent"};

std::string quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// option -> datatype, from the rules variable the init script sets when sourced.
std::map<std::string, std::string> init_rules(const RuleSource& s)
{
    std::string init = source_path("openwrt/files/" + std::string(s.init) + ".init");
    std::string words = command_output("sh -c " + quote(". " + init + "; printf '%s\\n' $" + s.variable));
    std::map<std::string, std::string> rules;
    size_t at = 0;
    while (at < words.size()) {
        size_t end = words.find('\n', at);
        std::string rule = words.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? words.size() : end + 1;
        size_t colon = rule.find(':');
        std::string type = rule.substr(colon + 1);
        rules[rule.substr(0, colon)] = type.substr(0, type.find(':'));
    }
    return rules;
}

bool validate_data(const std::string& type, const std::string& value)
{
    std::string root = getenv("OPENWRT_ROOT");
    std::string cmd = "LD_LIBRARY_PATH=" + quote(root + "/usr/lib") + " " + quote(root + "/usr/bin/validate_data") +
                      " " + quote(type) + " " + quote(value) + " 2>/dev/null";
    return system(cmd.c_str()) == 0;
}

std::vector<std::string> cases(const OptionRow& row)
{
    std::vector<std::string> values = {"-1", "2147483648", "100000000000000000000", std::string(10240, 'x'), "0", "1",
                                       "abc", "on", "Yes", "2", "N", "x", "month", "9600", "600", "gps.example.com",
                                       "10.0.0.1", "a..b", std::string(63, 'k'), std::string(64, 'k')};
    for (long long n : {static_cast<long long>(row.min) - 1, static_cast<long long>(row.min),
                        static_cast<long long>(row.max), static_cast<long long>(row.max) + 1})
        values.push_back(std::to_string(n));
    return values;
}

// On a 64-bit host validate_data narrows strtol's long into an int, so a
// number past 64 bits reads as -1 there; on the 32-bit router it does not.
bool wraps_on_this_host(const std::string& value)
{
    return sizeof(long) > sizeof(int) && value == "100000000000000000000";
}

TEST(OptionRules, InitScriptsCheckEveryOptionAsTheDaemonDoes)
{
    ASSERT_NE(getenv("OPENWRT_ROOT"), nullptr) << "OPENWRT_ROOT: OpenWrt's validate_data";
    for (const RuleSource& s : SOURCES) {
        std::map<std::string, std::string> rules = init_rules(s);
        ASSERT_FALSE(rules.empty()) << s.init << " " << s.variable;
        for (int i = 0; i < s.table->count; ++i) {
            const OptionRow& row = s.table->rows[i];
            const char* section = row.section[0] ? row.section : s.table->section;
            if ((section == nullptr) != (s.section == nullptr) || (s.section && s.section != std::string(section)))
                continue;
            if (!section && STATE_OPTIONS.count(row.option)) {
                EXPECT_EQ(rules.count(row.option), 0u) << row.option;
                continue;
            }
            char daemon_rule[128];
            option_rule_text(row, daemon_rule, sizeof daemon_rule);
            ASSERT_EQ(rules[row.option], daemon_rule) << s.init << " " << row.option;
            for (const std::string& value : cases(row)) {
                bool daemon = option_value_ok(row, value.c_str());
                if (!daemon && wraps_on_this_host(value))
                    continue;
                EXPECT_EQ(daemon, validate_data(daemon_rule, value))
                    << s.init << " " << row.option << " '" << value.substr(0, 40) << "'";
            }
        }
    }
}

} // namespace
