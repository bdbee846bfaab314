#include "gsm_pdu.h"

#include <cstring>

int gsm_decode_pdu(const char*, ShortMessage* msg) { memset(msg, 0, sizeof *msg); return 0; }
int hex_to_octets(const char*, uint8_t*, int n) { return n / 2; }
int octets_to_hex(const uint8_t*, int n, char* out) { out[0] = 0; return 2 * n; }
int unswap_semi_octets(const char*, char* out, int) { out[0] = 0; return 0; }
int gsm_unpack_7bit(const uint8_t*, int, char* out) { out[0] = 0; return 0; }
