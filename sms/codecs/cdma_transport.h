// Helpers shared by the CDMA transport parser, builder and text extraction.
#pragma once

#include <cstdint>

#include "cdma_pdu.h"

constexpr uint32_t CDMA_TELESERVICE_CMT = 4098;        // plain text messages
constexpr uint32_t CDMA_TELESERVICE_WAP = 4100;
constexpr uint32_t CDMA_TELESERVICE_WAP_65002 = 65002;

// Encodings of IS-637 user data.
constexpr uint8_t CDMA_ENCODING_OCTET = 0;
constexpr uint8_t CDMA_ENCODING_ASCII7 = 2;
constexpr uint8_t CDMA_ENCODING_IA5 = 3;
constexpr uint8_t CDMA_ENCODING_UNICODE = 4;

// Most DTMF digits of a number, sent or received.
constexpr int CDMA_NUMBER_DIGITS_MAX = 32;

// Bits per user-data character for an IS-637 message encoding.
int cdma_field_width(uint32_t encoding);
bool cdma_is_wap(uint32_t teleservice);

// Parses a user data subparameter body (count octets) into ud. Returns the octets it
// covers, or -1 when it runs past them or its fields exceed 2048 bits.
int cdma_parse_user_data(const uint8_t* octets, int count, uint32_t teleservice, CdmaUserData* ud);
