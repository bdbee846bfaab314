// The forwarder's settings, read once at start from the UCI package quorral.
#pragma once

#include "options.h"

enum {
    PROTO_TCP = 0,
    PROTO_UDP = 1,
    PROTO_SERIAL = 2,
};

// Server address or host name as read from UCI, terminator included.
constexpr int SERVER_TEXT_SIZE = 128;

struct GpsConfig {
    int enabled;
    int proto;
    int sendsn;
    int onlyrmc;
    int interval;
    char serverip[SERVER_TEXT_SIZE];
    int serverport;
    int baudrate;
    char parity;
    int databits;
    int stopbits;
    int debug;
};

extern const OptionTable GPS_OPTIONS;

// Reads the settings into config (zeroed by the caller) and applies a debug
// level above 0. Returns the number of options refused.
int load_gps_config(GpsConfig* config);
