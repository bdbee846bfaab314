// Signal strength alarm: raise after repeated bad readings, clear after good ones.
#pragma once

#include "sms_config.h"

// Alarm and cleared texts are built in this much.
constexpr int ALARM_TEXT_SIZE = 128;

enum class RssiAction {
    None,
    SendAlarm,    // send the alarm to every alarm entry; any success raises
    SendCleared,  // send the cleared text; any success clears
    ClearQuietly, // clear without a message
};

// Counter step of one reading: updates the counters in the daemon state and
// says what is due. Sends nothing and leaves the status alone.
RssiAction rssi_step(const SmsConfig* config, int reading);
int rssi_handling(int reading);
void set_alarm_status(int status);
