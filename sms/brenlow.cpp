// brenlow: the SMS daemon. One process serves one modem until its device node disappears.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "at_channel.h"
#include "brenlow_state.h"
#include "files.h"
#include "log.h"
#include "options.h"
#include "pidfile.h"
#include "receive_hook.h"
#include "rssi_alarm.h"
#include "serial.h"
#include "shell.h"
#include "shown_text.h"
#include "sms_config.h"
#include "sms_inbox.h"
#include "sms_manager.h"
#include "sms_outbox.h"
#include "sms_status.h"
#include "time64.h"

constexpr char LOG_UNIT[] = "brenlow.cpp";

namespace {

// Strength value from uci, read as a decimal integer.
constexpr int STRENGTH_SIZE = 64;
// Seconds between loop passes and, at least, between strength polls.
constexpr unsigned LOOP_PAUSE_S = 5;
constexpr time_t STRENGTH_POLL_S = 20;

struct Arguments {
    const char* device;
    const char* pidfile;
    int module_index;
    int cdma_flag;
};

void poll_strength(int module_index)
{
    char strength[STRENGTH_SIZE] = {};
    if (module_index == 2) {
        run_cmd("/etc/system/ostrel.sh 2");
        run_cmd_line("uci get mobile.dev_info2.strength", strength, sizeof strength);
    } else {
        run_cmd("/etc/system/ostrel.sh 1");
        run_cmd_line("uci get mobile.dev_info1.strength", strength, sizeof strength);
    }
    int reading = atoi(strength);
    status_note_strength(reading);
    rssi_handling(reading);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 1;
    Arguments args = {argv[1], argv[2], 1, 0};
    if (argc >= 5)
        args.module_index = atoi(argv[4]);
    if (argc >= 6)
        args.cdma_flag = atoi(argv[5]);

    log_set_output(LOG_OUT_FILE);
    log_set_file("/tmp/modemlog.log");
    log_set_level(LOG_TRACE);
    LOG(LOG_INFO, "Info： start process brenlow");

    int fd = open_port(args.device);
    LOG(LOG_INFO, "Info： brenlow check is done");

    // A file left by a process that is gone must not block every later start.
    PidClaim claim = pidfile_claim(args.pidfile);
    if (claim == PidClaim::AlreadyRunning) {
        LOG(LOG_ERROR, "Error： Brenlow is started already: %s.\n", args.pidfile);
        return 0;
    }
    if (claim == PidClaim::CreateFailed)
        LOG(LOG_ERROR, "Error： Cannot create PID file: %s.\n", args.pidfile);
    if (fd == -1) {
        LOG(LOG_ERROR, "Error： open device %s error\n", Shown(args.device).c_str());
        return 0;
    }
    setup_port(fd, 115200, 8, 'N', 1, 1);
    // A process killed during a submission leaves the modem waiting for its
    // PDU; whatever is written next would be taken as part of it.
    cancel_pending_submission(fd);
    set_modem_fd(fd);
    set_device_path(args.device);

    if (prepare_config() > 0) {
        unlink(args.pidfile);
        return EXIT_BAD_OPTION;
    }
    run_cmd("/etc/system/ostrel.sh");
    const SmsConfig* config = get_sms_config();
    sms_manager_init(args.cdma_flag, config->enabled);
    set_alarm_status(path_exists("/var/run/RSSIALARM") ? 1 : 0);
    time_t last_poll = time(nullptr);

    // The device path comes from the command line and is tested as given. A
    // port that refuses writes is as good as gone: leaving lets the service
    // manager start us again on the modem once it is back.
    while (!brenlow.modem_lost && access(args.device, F_OK) == 0) {
        sms_status_publish(args.module_index);
        if (config->enabled == 1 && args.module_index != 2) {
            sendmessage();
            recvmessage();
        }
        if (time(nullptr) - last_poll >= STRENGTH_POLL_S) {
            poll_strength(args.module_index);
            last_poll = time(nullptr);
        }
        sms_status_publish(args.module_index);
        // The pause also serves the onreceive programs still running.
        onreceive_tend(LOOP_PAUSE_S * 1000);
    }
    if (brenlow.modem_lost)
        LOG(LOG_ERROR, "Error： modem %s stopped taking writes, exiting", Shown(args.device).c_str());
    fprintf(stderr, "device %s not existed\n", args.device);
    unlink(args.pidfile);
    return 0;
}
