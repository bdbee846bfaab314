// Strict structure checks for the PDUs pdutool is given. The daemon's decoders
// stay lenient (they read whatever the modem prints); a person at a terminal
// wants to hear that a PDU is broken instead of seeing fields made of garbage.
#pragma once

#include <cstddef>

// 0 when hex is a whole SMSC information + SMS-DELIVER TPDU, else -1 with why.
int check_gsm_deliver(const char* hex, char* why, size_t size);

// 0 when hex is a whole CDMA transport-layer message, else -1 with why.
int check_cdma_transport(const char* hex, char* why, size_t size);
