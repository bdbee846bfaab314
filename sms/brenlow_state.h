// The process-wide state of brenlow, one record for the whole daemon.
#pragma once

#include <ctime>

#include "receive_hook.h"
#include "sms_config.h"
#include "spool_line.h"

// Modem answer kept per exchange: the longest answer we look into, terminated.
constexpr int AT_RESPONSE_SIZE = 1024;
// Modem device path from the command line, terminator included.
constexpr int DEVICE_PATH_SIZE = 64;

enum class SmsMode { Unset = -1, Gsm = 0, Cdma = 1 };

// What the outbox remembers between passes; the files in /tmp hold the rest.
struct OutboxState {
    // The batch as last seen, to tell a writer still at work from one gone:
    // its inode, size, and when that size last changed (boot clock seconds).
    unsigned long long batch_ino = 0;
    long long batch_size = -1;
    long long batch_changed_at = 0;
    // Earliest next try in the retry queue; -1 until the queue was read.
    long long retry_due = -1;
    // Batch line the last retry entry came from, so a line queued just
    // before a kill is not sent again; known once the queue was read.
    unsigned long long queued_id = 0;
    long long queued_end = -1;
    // A message went out: the modem gets a second before the next one.
    bool pause_due = false;
    // An odd file that could not be moved aside, reported once.
    unsigned long long stuck_ino = 0;
};

// What the status file tells besides the state below (sms_status.cpp).
struct StatusNotes {
    int modem_answered = -1; // the last AT exchange: 1 answered, 0 silent, -1 none yet
    time_t modem_at = 0;
    int strength = 0;        // the last signal reading
    time_t strength_at = 0;
    time_t last_sent = 0;    // the last message the modem confirmed
    time_t last_received = 0;
};

struct BrenlowState {
    // Both units always hold the same descriptor (set_modem_fd).
    int gsm_fd = -1;
    int cdma_fd = -1;
    char device_path[DEVICE_PATH_SIZE] = {};

    SmsMode sms_mode = SmsMode::Unset;
    char gsm_response[AT_RESPONSE_SIZE] = {};
    char cdma_response[AT_RESPONSE_SIZE] = {};

    SmsConfig config = {};
    bool config_loaded = false;

    // Last spool message, for the repeat test.
    char last_sent_number[SPOOL_NUMBER_SIZE] = {};
    char last_sent_text[SPOOL_TEXT_SIZE] = {};
    OutboxState outbox;

    // Set when a write to the modem failed: the device went away under us.
    bool modem_lost = false;

    // Messages the modem still counted after a scan of its whole store:
    // unreadable ones. While the count stays at that, passes stop at the
    // first empty index instead of scanning the store again. -1: none.
    int unreadable_left = -1;

    // Programs of the onreceive option still running.
    HookRun hooks[ONRECEIVE_RUNS_MAX];

    int alarm_status = 0;
    int failed_counter = 0;
    int succeed_counter = 0;

    StatusNotes notes;
};

extern BrenlowState brenlow;

void set_modem_fd(int fd);
void set_device_path(const char* path);
const char* get_device_path();
