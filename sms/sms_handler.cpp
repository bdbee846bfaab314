#include "sms_handler.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "dio.h"
#include "journal.h"
#include "log.h"
#include "shell.h"
#include "shown_text.h"
#include "sms_manager.h"

constexpr char LOG_UNIT[] = "sms_handler.cpp";

namespace {

// Ends a journal notice that is written as a "Sent SMS" line but never goes to the modem:
// nobody who is not allowed to command the router gets an answer from it.
constexpr char RECORDED_ONLY[] = " (recorded only, no SMS sent)";

// Slots that answer with a text of their own instead of the acknowledgement.
bool has_reply_text(int slot)
{
    return slot == CMD_CELLSTATUS || slot == CMD_DIOSTATUS || slot == CMD_OPERLIST;
}

void run_dio(const InboxMessage* msg, int slot, char* reply)
{
    int line = (slot - CMD_DIO0SET) / 2;
    int value = (slot - CMD_DIO0SET) % 2 == 0 ? 1 : 0;
    snprintf(reply, REPLY_SIZE, "/etc/system/dio.sh %d %d", line, value);
    if (slot == CMD_DIO0SET)
        LOG(LOG_DEBUG, "Debug： cmd_handling set %s, %s, action: %s", Shown(msg->sender).c_str(),
            Shown(msg->text).c_str(), reply);
    else if (slot == CMD_DIO0RESET)
        LOG(LOG_DEBUG, "Debug： cmd_handling reset %s, %s, action: %s", Shown(msg->sender).c_str(),
            Shown(msg->text).c_str(), reply);
    else
        LOG(LOG_DEBUG, "Debug： cmd_handling %s, %s, action: %s", Shown(msg->sender).c_str(), Shown(msg->text).c_str(),
            reply);
    run_cmd(reply);
}

void run_set_action(const InboxMessage* msg, const char* cmd, char* reply)
{
    snprintf(reply, REPLY_SIZE, "%s", cmd);
    LOG(LOG_DEBUG, "Debug： cmd_handling set %s, %s, action: %s", Shown(msg->sender).c_str(), Shown(msg->text).c_str(),
        reply);
    run_cmd(reply);
}

// Runs the action that comes before the reply; false when the command was refused.
bool action_before_reply(const InboxMessage* msg, const SmsConfig* config, int slot, char* reply)
{
    switch (slot) {
    case CMD_REBOOT:
        LOG(LOG_DEBUG, "Debug： cmd_handling %s, %s,action: reboot", Shown(msg->sender).c_str(),
            Shown(msg->text).c_str());
        break;
    case CMD_CELLSTATUS:
        run_cmd_line("/etc/system/cell.sh 1", reply, REPLY_SIZE);
        LOG(LOG_DEBUG, "Debug： cmd_handling %s, %s,action: cellstatus", Shown(msg->sender).c_str(),
            Shown(msg->text).c_str());
        break;
    case CMD_DIO0SET:
    case CMD_DIO0RESET:
    case CMD_DIO1SET:
    case CMD_DIO1RESET:
    case CMD_DIO2SET:
    case CMD_DIO2RESET:
    case CMD_DIO3SET:
    case CMD_DIO3RESET:
        run_dio(msg, slot, reply);
        break;
    case CMD_DIOSTATUS:
        snprintf(reply, REPLY_SIZE, "dio status:dio 0:%d, dio 1: %d, dio 2: %d, dio 3: %d", read_dio(0), read_dio(1),
                 read_dio(2), read_dio(3));
        break;
    case CMD_WIFION:
        run_set_action(msg, "/etc/system/cell.sh 9 1", reply);
        break;
    case CMD_WIFIOFF:
        run_set_action(msg, "/etc/system/cell.sh 9 0", reply);
        break;
    case CMD_OPERLIST:
        LOG(LOG_DEBUG, "Debug： cmd_handling set %s, %s, action: %s", Shown(msg->sender).c_str(),
            Shown(msg->text).c_str(), reply);
        LOG(LOG_ERROR, "Error： start OPERLIST handling");
        run_cmd_line("/etc/system/cell.sh 4", reply, REPLY_SIZE);
        LOG(LOG_ERROR, "Error： end OPERLIST handling");
        sleep(5);
        break;
    case CMD_OPERSET: {
        const char* argument = msg->text + strlen(config->keywords[CMD_OPERSET]);
        // The argument comes from an SMS and goes into a shell command line.
        if (!operator_argument_safe(argument)) {
            LOG(LOG_ERROR, "Error： operator code refused: %s", Shown(argument).c_str());
            char note[REPLY_SIZE];
            snprintf(note, sizeof note, "Operator code %s is refused%s", argument, RECORDED_ONLY);
            record_sent(msg->sender, note);
            return false;
        }
        char cmd[REPLY_SIZE];
        snprintf(cmd, sizeof cmd, "/etc/system/cell.sh 5 %s", argument);
        run_set_action(msg, cmd, reply);
        break;
    }
    default:
        break;
    }
    return true;
}

// Answers with the command's own text, or the acknowledgement when those are on.
void send_reply(const InboxMessage* msg, const SmsConfig* config, int slot, char* reply)
{
    bool own_text = has_reply_text(slot);
    if (!own_text && config->smsack != 1)
        return;
    char number[REPLY_NUMBER_SIZE];
    // A cut number would reach somebody else: such a reply is not sent.
    if (!build_reply_number(number, msg->sender, config->fixplus)) {
        LOG(LOG_ERROR, "Error： reply number too long: %s", Shown(msg->sender).c_str());
        return;
    }
    if (own_text) {
        sms_send(number, reply);
        record_sent(number, reply);
        LOG(LOG_INFO, "Info： send message (%s) to %s", Shown(reply).c_str(), number);
        return;
    }
    // The acknowledgement is kept within 128 bytes; a longer text is cut.
    if (snprintf(reply, ACK_SIZE, "command: %s, succeed", msg->text) >= ACK_SIZE)
        LOG(LOG_DEBUG, "Debug： ack cut to %d bytes", ACK_SIZE - 1);
    sms_send(number, reply);
    record_sent(number, reply);
    LOG(LOG_INFO, "Info： send ack message (%s) to %s", Shown(reply).c_str(), number);
}

void action_after_reply(int slot)
{
    switch (slot) {
    case CMD_REBOOT:
        run_cmd("reboot");
        break;
    case CMD_CELLUP:
        run_cmd("/etc/system/cell.sh 2");
        break;
    case CMD_CELLDOWN:
        run_cmd("/etc/system/cell.sh 3");
        break;
    case CMD_FORCECELLUP:
        run_cmd("/etc/system/cell.sh 6");
        break;
    case CMD_SIMSWITCH:
        run_cmd("/etc/system/cell.sh 7");
        break;
    default:
        break;
    }
}

} // namespace

bool build_reply_number(char* out, const char* number, int fixplus)
{
    int n = snprintf(out, REPLY_NUMBER_MAX + 1, fixplus == 1 ? "+%s" : "%s", number);
    return n >= 0 && n <= REPLY_NUMBER_MAX;
}

bool operator_argument_safe(const char* argument)
{
    for (const char* p = argument; *p; ++p) {
        char c = *p;
        bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ';
        if (!ok)
            return false;
    }
    return true;
}

int match_command(const InboxMessage* msg, const SmsConfig* config)
{
    const char* operset = config->keywords[CMD_OPERSET];
    if (operset[0] != '\0' && strncmp(msg->text, operset, strlen(operset)) == 0)
        return CMD_OPERSET;
    // An unconfigured keyword is empty and must match nothing, not an empty text.
    for (int slot = 0; slot < COMMAND_SLOTS; ++slot)
        if (config->keywords[slot][0] != '\0' && strcmp(msg->text, config->keywords[slot]) == 0)
            return slot;
    return -1;
}

int cmd_handling(const InboxMessage* msg)
{
    char reply[REPLY_SIZE] = {};
    PhoneEntry* phone = find_phone(msg->sender);
    LOG(LOG_DEBUG, "Debug： cmd_handling %s, %s", Shown(msg->sender).c_str(), Shown(msg->text).c_str());
    if (!phone) {
        LOG(LOG_INFO, "Info： Phone number %s is not configured", Shown(msg->sender).c_str());
        snprintf(reply, sizeof reply, "Phone number %s is not configured%s", msg->sender, RECORDED_ONLY);
        record_sent(msg->sender, reply);
        return 0;
    }
    if (phone->command != 1) {
        LOG(LOG_INFO, "Info： Phone number %s is not set to recv command sms", Shown(msg->sender).c_str());
        snprintf(reply, sizeof reply, "Phone number %s is not set to recv command sms%s", msg->sender,
                 RECORDED_ONLY);
        record_sent(msg->sender, reply);
        return 0;
    }
    const SmsConfig* config = get_sms_config();
    int slot = match_command(msg, config);
    if (slot < 0) {
        LOG(LOG_ERROR, "Error： command is not found %s", Shown(msg->text).c_str());
        LOG(LOG_ERROR, "Error： Unknown command %s", Shown(msg->text).c_str());
        return -2;
    }
    if (!action_before_reply(msg, config, slot, reply))
        return -2;

    send_reply(msg, config, slot, reply);
    action_after_reply(slot);
    return 0;
}
