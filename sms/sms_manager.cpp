#include "sms_manager.h"

#include <cstdio>
#include <cstring>

#include "brenlow_state.h"
#include "config.h"
#include "log.h"
#include "paths.h"
#include "shell_quote.h"
#include "shown_text.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "sms_manager.cpp";

namespace {

// The read command: device path and rooted script path included.
constexpr int READ_COMMAND_SIZE = 512;
// One quoted word of the read command: a path with every quote escaped.
constexpr int QUOTED_PATH_SIZE = 256;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int build_read_command(char* out, int size, int index, const char* script)
{
    // The script path sits inside the command text, so it is rooted here.
    // Both paths come from outside (command line, ROUTER_ROOT): one shell
    // word each, whatever they hold.
    char device[QUOTED_PATH_SIZE];
    char rooted[QUOTED_PATH_SIZE];
    if (shell_quote(device, sizeof device, get_device_path()) < 0 ||
        shell_quote(rooted, sizeof rooted, RootedPath(script).c_str()) < 0)
        return -1;
    int n = snprintf(out, size, "SMS_INDEX=%d gcom -d %s -s %s", index & 0xFF, device, rooted);
    return n < 0 || n >= size ? -1 : 0;
}

int read_stored_pdu(int index, const char* script, char* output, int size)
{
    char cmd[READ_COMMAND_SIZE] = {};
    if (build_read_command(cmd, sizeof cmd, index, script) != 0) {
        log_print(LOG_ERROR, "[%s %d] Error： read command too long for device %s", LOG_UNIT, __LINE__,
                  Shown(get_device_path()).c_str());
        return 0;
    }
    log_print(LOG_DEBUG, "[%s %d] Debug： command %s is sent", LOG_UNIT, __LINE__, Shown(cmd).c_str());
    run_cmd_line(cmd, output, size);
    copy_text(brenlow.last_pdu, sizeof brenlow.last_pdu, output, size);
    log_print(LOG_DEBUG, "[%s %d] Debug： command res=%s", LOG_UNIT, __LINE__, Shown(output).c_str());
    return output[0] != '\0';
}

void copy_text(char* out, size_t size, const char* text, size_t field)
{
    size_t len = strnlen(text, field);
    if (len >= size)
        len = size - 1;
    memcpy(out, text, len);
    out[len] = '\0';
}

void take_decoded(InboxMessage* msg, const char* sca, const char* tpa, int pid, const char* text, const char* scts)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： short message : sca:%s, tpa:%s, tp_PID: %d, tp_ud:%s, scts:%s ", LOG_UNIT,
              __LINE__, Shown(sca).c_str(), Shown(tpa).c_str(), pid, Shown(text).c_str(), Shown(scts).c_str());
    copy_text(msg->sender, sizeof msg->sender, tpa, strlen(tpa));
    copy_text(msg->stamp, sizeof msg->stamp, scts, strlen(scts));
    copy_text(msg->text, sizeof msg->text, text, strlen(text));
}

void sms_manager_init(int cdma_flag, int enabled)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： sms_manager_init %s,%s", LOG_UNIT, __LINE__, "", "");
    if (cdma_flag == 1) {
        if ((brenlow.sms_mode == SmsMode::Unset || brenlow.sms_mode == SmsMode::Gsm) && enabled == 1)
            cdma_sms_init();
        brenlow.sms_mode = SmsMode::Cdma;
        log_print(LOG_DEBUG, "[%s %d] Debug： module CDMA mode", LOG_UNIT, __LINE__);
    } else {
        if ((brenlow.sms_mode == SmsMode::Unset || brenlow.sms_mode == SmsMode::Cdma) && enabled == 1)
            gsm_sms_init();
        brenlow.sms_mode = SmsMode::Gsm;
        log_print(LOG_DEBUG, "[%s %d] Debug： module GSM mode", LOG_UNIT, __LINE__);
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
    log_print(LOG_DEBUG, "[%s %d] Debug： sms_del %d, mode=%d", LOG_UNIT, __LINE__, index,
              static_cast<int>(brenlow.sms_mode));
    if (brenlow.sms_mode == SmsMode::Gsm)
        gsm_delete_sms(index & 0xFF);
    else
        cdma_delete_sms(index & 0xFF);
}

int bad_number_byte(const char* number)
{
    if (number[0] == '\0')
        return 0;
    for (int i = 0; number[i]; ++i) {
        char c = number[i];
        bool ok = brenlow.sms_mode == SmsMode::Gsm ? is_digit(c) || (c == '+' && i == 0 && number[1] != '\0')
                                                   : is_digit(c) || c == '*' || c == '#';
        if (!ok)
            return i;
    }
    return -1;
}

int sms_send(const char* number, const char* text)
{
    int bad = bad_number_byte(number);
    if (bad >= 0) {
        log_print(LOG_ERROR, "[%s %d] Error： number %s refused: byte 0x%02X at %d", LOG_UNIT, __LINE__,
                  Shown(number).c_str(), static_cast<unsigned char>(number[bad]), bad);
        return 0;
    }
    if (brenlow.sms_mode == SmsMode::Gsm) {
        gsm_sms_init();
        return gsm_send_sms(number, text);
    }
    cdma_sms_init();
    return cdma_send_sms(number, text);
}
