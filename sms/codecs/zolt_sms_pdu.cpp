#include "cdma_pdu.h"

#include <cstring>

void cdma_decode_pdu(const char*, int, CdmaShortMessage* msg) { memset(msg, 0, sizeof *msg); }
int ZoltSMSWDPDataDecode(const CdmaSmsMessage*, CdmaShortMessage*) { return 0; }
int cdma_encode_pdu(CdmaShortMessage*, char* pdu) { pdu[0] = 0; return 0; }
int ascii_to_pbcd(uint8_t*, const char*, int) { return 0; }
void cdma_scts_to_text(const CdmaShortMessage*, char* out) { out[0] = 0; }
