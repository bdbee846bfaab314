// Character sets of short messages: UTF-8 on the host side, the GSM 7-bit
// default alphabet (with its extension table) and UTF-16 on the air side,
// plus the hex text that modems print PDUs as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Strict UTF-8: false on malformed input, overlong forms or surrogates.
bool utf8_decode(const std::string& text, std::u32string& out);
std::string utf8_encode(const std::u32string& text);

// Septet codes of the text in the default alphabet; extension characters take
// an escape septet and a code. False when a character has no GSM-7 form.
bool gsm7_encode(const std::u32string& text, Bytes& septets);
// Inverse of gsm7_encode; an unknown extension code reads as a space, the
// way handsets show it.
std::u32string gsm7_decode(const Bytes& septets);

// Packs septets first-septet-in-low-bits after fill_bits zero bits.
Bytes pack_septets(const Bytes& septets, int fill_bits);
// Takes count septets out of packed octets, skipping fill_bits first.
// False when the octets are too few.
bool unpack_septets(const uint8_t* octets, size_t n_octets, size_t count, int fill_bits, Bytes& out);

// UTF-16 big-endian, surrogate pairs for characters beyond the BMP.
Bytes utf16be_encode(const std::u32string& text);
// False on an odd length; a lone surrogate reads as U+FFFD.
bool utf16be_decode(const uint8_t* data, size_t n, std::u32string& out);

std::string to_hex(const Bytes& octets, bool upper);
// Either case; false on an odd length or a non-hex character.
bool from_hex(const std::string& text, Bytes& out);
