// Characters as phones send them: the GSM 7-bit default alphabet with its
// extension table, and UTF-16, both to and from UTF-8.
#pragma once

#include <cstdint>

// Escape septet: the next septet is read in the extension table.
constexpr uint8_t GSM_ESCAPE = 0x1B;

// The septet form of a code point: the basic septet (0 to 127), or
// GSM_ESCAPE << 8 | code for an extension character; -1 when it has none.
int gsm_septet_of(uint32_t code_point);

// Translates n septet values into UTF-8; an escape followed by a code the
// extension table does not hold reads as a space. Stops before a character
// that would not fit; out (size bytes, at least 1) is always terminated.
// Returns the bytes written.
int gsm_septets_to_utf8(const uint8_t* septets, int n, char* out, int size);

// Converts n octets of UTF-16 big-endian into UTF-8: surrogate pairs become
// 4-byte sequences, a lone surrogate U+FFFD and a zero unit nothing, so no
// character ends the text. Same bounds and result as gsm_septets_to_utf8.
int utf16be_to_utf8(const uint8_t* units, int n, char* out, int size);

// Reads one code point of UTF-8 at text[*pos] (length bytes in all) and moves
// *pos past it. A malformed byte reads as '?' and is skipped alone; -1 when a
// sequence is cut by the end of the text (the cut bytes are consumed).
int32_t utf8_next(const char* text, int length, int* pos);

// Writes code_point as UTF-8 into out when it fits in size bytes (terminator
// kept free); returns the bytes written, 0 when it does not fit.
int utf8_put(uint32_t code_point, char* out, int size);

// Length of the longest start of text (at most max bytes) that ends on a
// character boundary.
int utf8_cut(const char* text, int max);
