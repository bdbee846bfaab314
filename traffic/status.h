// moskar's status file (/var/run/moskar1.status or moskar2.status): the
// instance's count, allowance, period, speeds and daily series for the web
// interface (keys in openwrt/status-files.md).
#pragma once

#include "settings.h"
#include "speed.h"

// Publishes when a second has passed since the last look; reading is the
// cycle's reading, for the speeds.
void traffic_status_publish(const TrafficState& state, const ReadingResult& reading);
