#include "rssi_alarm.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "brenlow_state.h"
#include "files.h"
#include "journal.h"
#include "log.h"
#include "paths.h"
#include "sms_handler.h"
#include "sms_manager.h"
#include "unique_fd.h"

constexpr char LOG_UNIT[] = "rssi_alarm.cpp";

namespace {

constexpr const char* ALARM_MARKER = "/var/run/RSSIALARM";

// Sends text to every entry with the alarm right; true when any send went through.
bool send_to_alarm_entries(const SmsConfig* config, const char* text, const char* failure_note)
{
    bool any = false;
    for (const PhoneEntry* entry = config->phones; entry; entry = entry->next) {
        if (entry->alarm != 1)
            continue;
        char destination[REPLY_NUMBER_SIZE];
        build_reply_number(destination, entry->number, config->fixplus);
        if (sms_send(destination, text)) {
            record_sent(destination, text);
            LOG(LOG_INFO, "Info： send alarm message (%s) to %s", text, destination);
            any = true;
        } else {
            record_sent(destination, failure_note);
        }
    }
    return any;
}

} // namespace

RssiAction rssi_step(const SmsConfig* config, int reading)
{
    bool good = reading > config->sigthres;
    if (brenlow.alarm_status == 0) {
        brenlow.failed_counter = good ? 0 : brenlow.failed_counter + 1;
        LOG(LOG_DEBUG, "Debug： rssi_handling (%d),failed= %d", reading, brenlow.failed_counter);
        return brenlow.failed_counter >= config->failedthres ? RssiAction::SendAlarm : RssiAction::None;
    }
    brenlow.succeed_counter = good ? brenlow.succeed_counter + 1 : 0;
    if (config->normalthres <= 0)
        return brenlow.succeed_counter >= 1 ? RssiAction::ClearQuietly : RssiAction::None;
    LOG(LOG_DEBUG, "Debug： rssi_handling (%d),succeed= %d", reading, brenlow.succeed_counter);
    return brenlow.succeed_counter > config->normalthres ? RssiAction::SendCleared : RssiAction::None;
}

int rssi_handling(int reading)
{
    int status = brenlow.alarm_status;
    const SmsConfig* config = get_sms_config();
    LOG(LOG_DEBUG, "Debug： rssi_handling (%d)", reading);
    if (config->alarmenabled == 0 || config->rssialarm == 0)
        return 0;
    LOG(LOG_DEBUG, "Debug： rssi_handling (%d),alarm send status= %d", reading, brenlow.alarm_status);
    char text[ALARM_TEXT_SIZE];
    switch (rssi_step(config, reading)) {
    case RssiAction::SendAlarm:
        snprintf(text, sizeof text, "RSSI Alarm ariased,RSSI:%d", reading);
        if (send_to_alarm_entries(config, text, "send RSSI Alarm SMS failed,try again later"))
            status = 1;
        break;
    case RssiAction::SendCleared:
        snprintf(text, sizeof text, "RSSI Alarm cleared,RSSI:%d", reading);
        if (send_to_alarm_entries(config, text, "send RSSI clear SMS failed,try again later"))
            status = 0;
        break;
    case RssiAction::ClearQuietly:
        status = 0;
        break;
    case RssiAction::None:
        break;
    }
    set_alarm_status(status);
    return 0;
}

void set_alarm_status(int status)
{
    if (status == 1 && brenlow.alarm_status == 0) {
        brenlow.alarm_status = 1;
        UniqueFd marker(open(RootedPath(ALARM_MARKER).c_str(), O_WRONLY | O_CREAT, 0664));
        if (marker.valid())
            fchmod(marker.get(), 0664); // not narrowed by the umask
        else
            LOG(LOG_ERROR, "Error： create sms alarm file failed");
    } else if (status == 0 && brenlow.alarm_status == 1) {
        brenlow.alarm_status = 0;
        remove_file(ALARM_MARKER);
    }
    LOG(LOG_DEBUG, "Debug： alarm status is %d", brenlow.alarm_status);
}
