// CDMA SMS codecs: IS-637 transport-layer messages as hex text.
#pragma once

#include <cstdint>

// One CDMA short message as the SMS manager sees it. Zero-filled before use.
struct CdmaShortMessage {
    char sca[32];             // left empty
    char tpa[32];             // originating (decode) or destination (encode) number
    unsigned char tp_pid;     // left 0
    unsigned char tp_dcs;     // 0 7-bit ASCII, 8 Unicode, 4 (decode) or other (encode) octets
    char scts[18];            // the six BCD time-stamp octets as received, rest zero
    char tp_ud[256];          // user data, msgLen bytes; zero beyond
    uint16_t msg_id;
    uint8_t priority;
    uint8_t encoding;         // IS-637 message encoding of the user data
    uint8_t msgLen;
    uint8_t ref;              // concatenation reference, 0 when not concatenated
    uint8_t seg;              // total segments, 1 when not concatenated
    uint8_t curSeg;           // this segment, 1 when not concatenated
    uint8_t immediate_display;
    uint8_t bearer_msg_type;
    uint8_t error_class;
    uint8_t status_code;
    uint8_t user_ack;
    uint8_t dak;
    uint8_t read_ack;
    uint8_t header_ind;
    uint16_t DstPort;
    uint16_t SrcPort;
    uint8_t vmn;
    uint8_t num_messages;
    uint16_t teleservice_id;
    uint8_t validity;
};

// Capacities of the parsed record; longer fields are cut to these.
constexpr int CDMA_ADDRESS_CHARS = 35;       // 70 DTMF digits or 35 8-bit characters
constexpr int CDMA_SUBADDRESS_CHARS = 30;
constexpr int CDMA_USER_DATA_CHARS = 256;    // fields x width stays below 2048 bits
constexpr int CDMA_USER_DATA_ENTRIES = 2;    // user data plus one multiple-encoding entry
constexpr int CDMA_CALLBACK_CHARS = 31;
constexpr int CDMA_PROGRAM_ENTRIES = 10;
constexpr int CDMA_PROGRAM_CHARS = 21;       // below 168 bits of characters
// Longest transport message: its length is counted in 8 bits.
constexpr int CDMA_TRANSPORT_MAX = 255;
// Hex text of the longest transport message plus terminator.
constexpr int CDMA_PDU_TEXT_MAX = 2 * CDMA_TRANSPORT_MAX + 1;

// Presence bits of CdmaSmsMessage::present.
enum : uint32_t {
    CDMA_HAS_SERVICE_CATEGORY = 0x1,
    CDMA_HAS_ADDRESS = 0x2,
    CDMA_HAS_SUBADDRESS = 0x4,
    CDMA_HAS_USER_DATA = 0x8,
    CDMA_HAS_USER_RESPONSE = 0x10,
    CDMA_HAS_MC_TIME = 0x20,
    CDMA_HAS_VALIDITY_ABSOLUTE = 0x40,
    CDMA_HAS_VALIDITY_RELATIVE = 0x80,
    CDMA_HAS_DEFERRED_ABSOLUTE = 0x100,
    CDMA_HAS_DEFERRED_RELATIVE = 0x200,
    CDMA_HAS_PRIORITY = 0x400,
    CDMA_HAS_PRIVACY = 0x800,
    CDMA_HAS_REPLY_OPTION = 0x1000,
    CDMA_HAS_NUM_MESSAGES = 0x2000,
    CDMA_HAS_ALERT = 0x4000,
    CDMA_HAS_LANGUAGE = 0x8000,
    CDMA_HAS_CALLBACK = 0x10000,
    CDMA_HAS_DISPLAY_MODE = 0x20000,
    CDMA_HAS_MULTI_ENCODING = 0x40000,
    CDMA_HAS_DEPOSIT_INDEX = 0x80000,
    CDMA_HAS_MESSAGE_STATUS = 0x400000,
    CDMA_HAS_PROGRAM_RESULTS = 0x800000,
    CDMA_HAS_PROGRAM_DATA = 0x1000000,
    CDMA_HAS_BEARER_REPLY = 0x2000000,
};

struct CdmaAddress {
    uint32_t digit_mode;      // 0 DTMF 4-bit codes, 1 8-bit characters
    uint32_t number_mode;
    uint32_t number_type;
    uint32_t number_plan;
    uint8_t num_fields;
    uint8_t chars[CDMA_ADDRESS_CHARS];   // bit-packed, 4 or 8 bits per field
};

struct CdmaSubaddress {
    uint32_t type;
    uint8_t odd;
    uint8_t num_fields;
    uint8_t chars[CDMA_SUBADDRESS_CHARS];
};

struct CdmaUserData {
    uint32_t encoding;
    uint8_t is91_type;
    uint8_t num_fields;
    uint8_t chars[CDMA_USER_DATA_CHARS];  // bit-packed at the encoding's width from bit 0
};

struct CdmaCallback {
    uint32_t digit_mode;
    uint32_t number_type;
    uint32_t number_plan;
    uint8_t num_fields;
    uint8_t chars[CDMA_CALLBACK_CHARS];
};

struct CdmaProgramResult {
    uint16_t category;
    uint8_t result;
};

struct CdmaProgramEntry {
    uint8_t operation_code;
    uint16_t category;
    uint8_t language;
    uint8_t max_messages;
    uint8_t alert_option;
    uint8_t num_chars;
    uint8_t chars[CDMA_PROGRAM_CHARS];
};

// The parsed (or to be built) transport-layer message.
struct CdmaSmsMessage {
    uint32_t present;         // CDMA_HAS_* bits
    uint32_t kind;            // builder only: 1/3 originating, 5/7 destination address
    uint8_t ud_count;
    uint32_t msg_type;        // 0 point-to-point, 1 broadcast, 2 acknowledge
    uint16_t message_id;
    uint8_t header_ind;
    uint32_t bearer_msg_type;
    uint32_t teleservice_id;
    uint32_t service_category;
    CdmaAddress address;
    CdmaSubaddress subaddress;
    CdmaUserData user_data[CDMA_USER_DATA_ENTRIES];
    uint8_t user_response;
    uint8_t mc_time[6];
    uint8_t validity_absolute[6];
    uint8_t validity_relative;
    uint8_t deferred_absolute[6];
    uint8_t deferred_relative;
    uint32_t priority;
    uint32_t privacy;
    uint8_t user_ack;
    uint8_t dak;
    uint8_t read_ack;
    uint8_t num_messages;     // BCD
    uint32_t alert;
    uint32_t language;
    CdmaCallback callback;
    uint32_t display_mode;
    uint8_t display_reserved;
    uint16_t deposit_index;
    uint8_t error_class;
    uint8_t status_code;
    uint8_t program_result_count;
    CdmaProgramResult program_results[CDMA_PROGRAM_ENTRIES];
    uint8_t program_data_encoding;
    uint8_t program_data_count;
    CdmaProgramEntry program_data[CDMA_PROGRAM_ENTRIES];
};

// Decodes the hex text (length characters) of one transport-layer message into msg,
// which is cleared first. Not reentrant: uses a module-wide work buffer.
void cdma_decode_pdu(const char* pdu, int length, CdmaShortMessage* msg);

// Parses count octets into msg (cleared first). Returns 0 when every parameter parsed,
// -1 when parsing stopped at a malformed one (what was parsed until then stays).
int cdma_parse_transport(const uint8_t* octets, int count, CdmaSmsMessage* msg);

// WAP (WDP) text extraction of the decoder; an inner message identifier and user data
// replace those of parsed. Returns 0, or -1 when the inner user data
// is malformed, in which case msg is left cleared.
int ZoltSMSWDPDataDecode(CdmaSmsMessage* parsed, CdmaShortMessage* msg);

// Encodes msg (tpa, tp_dcs, tp_ud, msgLen, ...) as a mobile-originated transport message
// in lower-case hex into pdu, which holds at least CDMA_PDU_TEXT_MAX bytes; writes
// msg->encoding. Returns the length in octets, or 0 when it cannot be encoded.
// Not reentrant: uses module-wide work buffers.
int cdma_encode_pdu(CdmaShortMessage* msg, char* pdu);

// Writes the DTMF codes of length characters of number, two per octet, first code in
// the high nibble. Returns 1, or 0 for more than 32 characters or a character that has no code.
int ascii_to_pbcd(uint8_t* out, const char* number, int length);

// Writes msg as transport-layer octets (octets holds 256 bytes) and their number.
// Returns 0, or -1 when the message would exceed 255 octets (length is then 0).
int cdma_build_transport(const CdmaSmsMessage* msg, uint8_t* octets, uint8_t* length);

// Shows the BCD time stamp of a decoded message as YYMMDDhhmmss; out holds 13 bytes.
void cdma_scts_to_text(const CdmaShortMessage* msg, char* out);
