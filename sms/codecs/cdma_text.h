// CDMA messages as phones write them: the text as UTF-8, the concatenation
// header taken out of it.
#pragma once

#include "cdma_pdu.h"
#include "gsm_text.h"

// Decodes a transport message like cdma_decode_pdu into msg (cleared first),
// then writes its text into text (size bytes) as UTF-8 without the
// concatenation header, which is read into concat (total 0 without one).
// Unicode becomes UTF-8; 7-bit ASCII, IA5 and octets are the bytes up to the
// first zero. Returns the text's length in bytes. Not reentrant, as
// cdma_decode_pdu.
int cdma_decode_text(const char* pdu, CdmaShortMessage* msg, char* text, int size, ConcatHeader* concat);
