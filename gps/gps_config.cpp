#include "gps_config.h"

#include "log.h"
#include "serial.h"

namespace {

// The longest pause between reads: a day. The no-data limit is 30 of them.
constexpr int INTERVAL_MAX_S = 86400;

constexpr OptionRow ROWS[] = {
    // Read, but the forwarder behaves the same whatever its value.
    {"", "enabled", &OPTION_BOOL, OnBad::Ignore, OPTION_FIELD(GpsConfig, enabled)},
    {"", "proto", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(GpsConfig, proto), PROTO_TCP, PROTO_SERIAL},
    {"", "sendsn", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(GpsConfig, sendsn)},
    // Anything but 1 forwards the whole chunk.
    {"", "onlyrmc", &OPTION_BOOL, OnBad::Ignore, OPTION_FIELD(GpsConfig, onlyrmc)},
    {"", "interval", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(GpsConfig, interval), 0, INTERVAL_MAX_S},
    {"", "serverip", &OPTION_HOST, OnBad::Refuse, OPTION_FIELD(GpsConfig, serverip)},
    {"", "serverport", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(GpsConfig, serverport), 0, 65535},
    {"", "baudrate", &OPTION_CHOICE, OnBad::Refuse, OPTION_FIELD(GpsConfig, baudrate), 0, 0, SPEED_RULE},
    {"", "parity", &OPTION_LETTER, OnBad::Refuse, OPTION_FIELD(GpsConfig, parity), 0, 0, PARITY_RULE},
    {"", "databits", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(GpsConfig, databits), 7, 8},
    {"", "stopbits", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(GpsConfig, stopbits), 1, 2},
    // Only a level above 0 replaces the start-up level.
    {"", "debug", &OPTION_INTEGER, OnBad::Ignore, OPTION_FIELD(GpsConfig, debug), 0, 5},
};

} // namespace

const OptionTable GPS_OPTIONS = {"quorral", "general", ROWS, sizeof ROWS / sizeof ROWS[0]};

int load_gps_config(GpsConfig* config)
{
    int refused = load_options(GPS_OPTIONS, config, nullptr);
    if (config->debug > 0)
        log_set_level(config->debug);
    return refused;
}
