#include "sms_manager.h"

#include <cstdio>

#include "brenlow_state.h"
#include "cdma_sms.h"
#include "gsm_sms.h"
#include "log.h"
#include "receive_hook.h"
#include "shown_text.h"
#include "sms_status.h"

constexpr char LOG_UNIT[] = "sms_manager.cpp";

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

void sms_manager_init(int cdma_flag, int enabled)
{
    LOG(LOG_DEBUG, "Debug： sms_manager_init %s,%s", "", "");
    if (cdma_flag == 1) {
        if ((brenlow.sms_mode == SmsMode::Unset || brenlow.sms_mode == SmsMode::Gsm) && enabled == 1)
            cdma_sms_init();
        brenlow.sms_mode = SmsMode::Cdma;
        LOG(LOG_DEBUG, "Debug： module CDMA mode");
    } else {
        if ((brenlow.sms_mode == SmsMode::Unset || brenlow.sms_mode == SmsMode::Cdma) && enabled == 1)
            gsm_sms_init();
        brenlow.sms_mode = SmsMode::Gsm;
        LOG(LOG_DEBUG, "Debug： module GSM mode");
    }
}

int sms_read(int index, StoredMessage* msg)
{
    if (brenlow.sms_mode == SmsMode::Gsm)
        return gsm_read_sms(index & 0xFF, msg);
    return cdma_read_sms(index & 0xFF, msg);
}

void sms_del(int index)
{
    LOG(LOG_DEBUG, "Debug： sms_del %d, mode=%d", index, static_cast<int>(brenlow.sms_mode));
    if (brenlow.sms_mode == SmsMode::Gsm)
        gsm_delete_sms(index & 0xFF);
    else
        cdma_delete_sms(index & 0xFF);
}

bool sms_count(int* used, int* total)
{
    bool known = brenlow.sms_mode == SmsMode::Gsm ? gsm_count_sms(used, total) : cdma_count_sms(used, total);
    if (known)
        LOG(LOG_DEBUG, "Debug： store holds %d of %d messages", *used, *total);
    return known;
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

SendReport sms_send_report(const char* number, const char* text)
{
    // A batch of sends can hold the loop for minutes: an overdue onreceive
    // program is killed between them, not only in the loop's pause.
    onreceive_tend(0);
    SendReport report;
    int bad = bad_number_byte(number);
    if (bad >= 0) {
        LOG(LOG_ERROR, "Error： number %s refused: byte 0x%02X at %d", Shown(number).c_str(),
            static_cast<unsigned char>(number[bad]), bad);
        snprintf(report.answer, sizeof report.answer, "number refused");
        return report;
    }
    if (brenlow.sms_mode == SmsMode::Gsm) {
        gsm_sms_init();
        report = gsm_send_sms(number, text);
    } else {
        cdma_sms_init();
        report = cdma_send_sms(number, text);
    }
    if (report.outcome == SendOutcome::Sent)
        status_note_sent();
    return report;
}

int sms_send(const char* number, const char* text)
{
    return sms_send_report(number, text).outcome == SendOutcome::Sent;
}
