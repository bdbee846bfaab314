#include "sms_manager.h"

#include <cstdio>

#include "brenlow_state.h"
#include "log.h"
#include "paths.h"

int build_read_command(char* out, int size, int index, const char* script)
{
    // The script path sits inside the command text, so it is rooted here.
    int n = snprintf(out, size, "SMS_INDEX=%d gcom -d %s -s %s", index & 0xFF, get_device_path(),
                     RootedPath(script).c_str());
    return n < 0 || n >= size ? -1 : 0;
}

void sms_manager_init(int cdma_flag, int enabled)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： sms_manager_init %s,%s", LOG_SRC, __LINE__, "", "");
    if (cdma_flag == 1) {
        if ((brenlow.sms_mode == SmsMode::Unset || brenlow.sms_mode == SmsMode::Gsm) && enabled == 1)
            cdma_sms_init();
        brenlow.sms_mode = SmsMode::Cdma;
        log_print(LOG_DEBUG, "[%s %d] Debug： module CDMA mode", LOG_SRC, __LINE__);
    } else {
        if ((brenlow.sms_mode == SmsMode::Unset || brenlow.sms_mode == SmsMode::Cdma) && enabled == 1)
            gsm_sms_init();
        brenlow.sms_mode = SmsMode::Gsm;
        log_print(LOG_DEBUG, "[%s %d] Debug： module GSM mode", LOG_SRC, __LINE__);
    }
}

int sms_read(int index, InboxMessage* msg)
{
    if (brenlow.sms_mode == SmsMode::Gsm)
        return gsm_read_sms(index & 0xFF, msg);
    return cdma_read_sms(index & 0xFF, msg);
}

void sms_del(int index)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： sms_del %d, mode=%d", LOG_SRC, __LINE__, index,
              static_cast<int>(brenlow.sms_mode));
    if (brenlow.sms_mode == SmsMode::Gsm)
        gsm_delete_sms(index & 0xFF);
    else
        cdma_delete_sms(index & 0xFF);
}

int sms_send(const char* number, const char* text)
{
    if (brenlow.sms_mode == SmsMode::Gsm) {
        gsm_sms_init();
        return gsm_send_sms(number, text);
    }
    cdma_sms_init();
    return cdma_send_sms(number, text);
}
