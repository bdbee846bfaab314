#include "bridge_config.h"

#include "serial.h"

namespace {

constexpr OptionRow ROWS[] = {
    // Read, but the bridge behaves the same whatever its value.
    {"", "enabled", &OPTION_BOOL, OnBad::Ignore, OPTION_FIELD(BridgeConfig, enabled)},
    // The log level, also when 0 (silent).
    {"", "debug", &OPTION_INTEGER, OnBad::Ignore, OPTION_FIELD(BridgeConfig, debug), 0, 5},
    // 1 standard output, 2 standard error, anything else the log file.
    {"", "output", &OPTION_INTEGER, OnBad::Ignore, OPTION_FIELD(BridgeConfig, output), 0, 2},
    {"", "baudrate", &OPTION_CHOICE, OnBad::Refuse, OPTION_FIELD(BridgeConfig, baudrate), 0, 0, SPEED_RULE},
    {"", "parity", &OPTION_LETTER, OnBad::Refuse, OPTION_FIELD(BridgeConfig, parity), 0, 0, PARITY_RULE},
    {"", "databits", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(BridgeConfig, databits), 7, 8},
    {"", "stopbits", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(BridgeConfig, stopbits), 1, 2},
};

} // namespace

const OptionTable BRIDGE_OPTIONS = {"dastral", "general", ROWS, sizeof ROWS / sizeof ROWS[0]};

int load_bridge_config(BridgeConfig* config)
{
    return load_options(BRIDGE_OPTIONS, config, nullptr);
}
