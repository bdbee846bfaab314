// A group of uci changes run by one "uci batch" process instead of one
// shell and one uci per command.
#pragma once

// Text of the commands waiting to run: a cycle's handful of set lines and a
// commit fit several times over; a fuller batch runs early.
constexpr int UCI_BATCH_TEXT_SIZE = 1024;

struct UciBatch {
    char text[UCI_BATCH_TEXT_SIZE]; // one command a line, as "uci batch" reads them
    int length;
};

// Each adds the command that the one-off set_option_* and commit_config
// functions run, without their "uci -q " (the batch runs as "uci -q batch").
void uci_batch_set_int(UciBatch& batch, const char* package, const char* section, const char* option, int value);
void uci_batch_set_ll(UciBatch& batch, const char* package, const char* section, const char* option,
                      long long value);
void uci_batch_set_str(UciBatch& batch, const char* package, const char* section, const char* option,
                       const char* text);
void uci_batch_commit(UciBatch& batch, const char* package);

bool uci_batch_empty(const UciBatch& batch);
// Starts "uci -q batch" (found through PATH, no shell), feeds it the commands
// and waits for it; the batch is empty afterwards. Returns the exit status,
// 0 for an empty batch, -1 when uci could not be started.
int uci_batch_run(UciBatch& batch);
