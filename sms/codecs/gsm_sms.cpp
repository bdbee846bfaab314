#include "gsm_pdu.h"

int gsm_encode_pdu(const ShortMessage*, char* pdu) { pdu[0] = 0; return 0; }
int swap_semi_octets(const char*, char* out, int n) { out[0] = 0; return n; }
int gsm_pack_7bit(const char*, int, uint8_t*) { return 0; }
int utf8_to_ucs2(const char*, int, uint8_t*) { return 0; }
