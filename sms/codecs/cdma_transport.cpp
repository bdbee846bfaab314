#include "cdma_pdu.h"

#include <cstring>

int cdma_parse_transport(const uint8_t*, int, CdmaSmsMessage* msg) { memset(msg, 0, sizeof *msg); return 0; }
int cdma_build_transport(const CdmaSmsMessage*, uint8_t*, uint8_t* length) { *length = 0; return 0; }
