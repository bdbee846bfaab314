// The bridge's line settings, read once at start from the UCI package dastral.
#pragma once

#include "options.h"

struct BridgeConfig {
    char parity;
    int baudrate;
    int databits;
    int stopbits;
    int enabled;
    int debug;
    int output;
};

extern const OptionTable BRIDGE_OPTIONS;

// Reads the settings into config (zeroed by the caller). Returns the number
// of options refused.
int load_bridge_config(BridgeConfig* config);
