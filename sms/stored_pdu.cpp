// Steps the GSM and CDMA halves share: the read script and the inbox record.
#include "stored_pdu.h"

#include <cstdio>
#include <cstring>

#include "at_channel.h"
#include "brenlow_state.h"
#include "log.h"
#include "paths.h"
#include "shell.h"
#include "shell_quote.h"
#include "shown_text.h"

constexpr char LOG_UNIT[] = "sms_manager.cpp";

namespace {

// The read command: device path and rooted script path included.
constexpr int READ_COMMAND_SIZE = 512;
// One quoted word of the read command: a path with every quote escaped.
constexpr int QUOTED_PATH_SIZE = 256;

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
        LOG(LOG_ERROR, "Error： read command too long for device %s", Shown(get_device_path()).c_str());
        return 0;
    }
    LOG(LOG_DEBUG, "Debug： command %s is sent", Shown(cmd).c_str());
    run_cmd_line(cmd, output, size);
    LOG(LOG_DEBUG, "Debug： command res=%s", Shown(output).c_str());
    return output[0] != '\0';
}

namespace {

// A decimal of 1 to 5 digits at p, which moves past it; -1 when there is none.
int take_count(const char** p)
{
    int value = 0;
    int digits = 0;
    for (; **p >= '0' && **p <= '9' && digits < 5; ++*p, ++digits)
        value = value * 10 + (**p - '0');
    return digits > 0 ? value : -1;
}

} // namespace

bool parse_storage_count(const char* answer, const char* tag, int* used, int* total)
{
    const char* p = find_line(answer, tag);
    if (!p)
        return false;
    p += strlen(tag);
    while (*p == ' ')
        ++p;
    if (*p == '"') {
        const char* close = strchr(p + 1, '"');
        if (!close || close[1] != ',')
            return false;
        p = close + 2;
    }
    int u = take_count(&p);
    if (u < 0 || *p++ != ',')
        return false;
    int t = take_count(&p);
    if (t < 0)
        return false;
    *used = u;
    *total = t;
    return true;
}

void copy_text(char* out, size_t size, const char* text, size_t field)
{
    size_t len = strnlen(text, field);
    if (len >= size)
        len = size - 1;
    memcpy(out, text, len);
    out[len] = '\0';
}

void take_decoded_fields(StoredMessage* msg, const DecodedFields& fields)
{
    char sca[DECODED_NUMBER_MAX + 1] = {};
    char tpa[DECODED_NUMBER_MAX + 1] = {};
    char scts[DECODED_STAMP_MAX + 1] = {};
    char text[DECODED_TEXT_MAX + 1] = {};
    copy_text(sca, sizeof sca, fields.sca, fields.sca_size);
    copy_text(tpa, sizeof tpa, fields.tpa, fields.tpa_size);
    copy_text(scts, sizeof scts, fields.scts, fields.scts_size);
    copy_text(text, sizeof text, fields.text, fields.text_size);
    LOG(LOG_DEBUG, "Debug： short message : sca:%s, tpa:%s, tp_PID: %d, tp_ud:%s, scts:%s ", Shown(sca).c_str(),
        Shown(tpa).c_str(), fields.pid, Shown(text).c_str(), Shown(scts).c_str());
    copy_text(msg->sender, sizeof msg->sender, tpa, sizeof tpa);
    copy_text(msg->stamp, sizeof msg->stamp, scts, sizeof scts);
}
