// One fuzz input through a decoder and back through its encoder. An input that
// starts with a zero byte carries raw octets, which are given to the decoder as hex,
// so mutations reach the parsers directly; any other input is the PDU text itself.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cdma_pdu.h"
#include "gsm_pdu.h"
#include "gsm_text.h"

namespace fuzz {

inline std::string pdu_text(const uint8_t* data, size_t size)
{
    if (size > 0 && data[0] == 0) {
        static const char digits[] = "0123456789ABCDEF";
        std::string text;
        for (size_t i = 1; i < size; i++) {
            text += digits[data[i] >> 4];
            text += digits[data[i] & 15];
        }
        return text;
    }
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A field that lost its terminator would be read past by every caller.
template <size_t N>
void require_terminated(const char (&field)[N])
{
    if (!memchr(field, 0, N))
        abort();
}

inline void gsm_input(const uint8_t* data, size_t size)
{
    std::string text = pdu_text(data, size);
    ShortMessage msg;
    gsm_decode_pdu(text.c_str(), &msg);
    require_terminated(msg.sca);
    require_terminated(msg.tpa);
    require_terminated(msg.scts);
    require_terminated(msg.tp_ud);
    char pdu[GSM_PDU_TEXT_MAX];
    int length = gsm_encode_pdu(&msg, pdu);
    if (length >= GSM_PDU_TEXT_MAX || strlen(pdu) != static_cast<size_t>(length))
        abort();

    // The unicode option's reading, and its text sent back in parts.
    char utf8[GSM_TEXT_UTF8_SIZE];
    ConcatHeader concat;
    int n = gsm_decode_text(text.c_str(), &msg, utf8, sizeof utf8, &concat);
    if (n < 0 || n >= GSM_TEXT_UTF8_SIZE || strlen(utf8) != static_cast<size_t>(n))
        abort();
    static GsmSubmitParts parts;
    int count = gsm_encode_text(msg.tpa, utf8, 1, &parts);
    if (count < 1 || count > GSM_SEND_PARTS_MAX)
        abort();
    for (int p = 0; p < count; p++)
        if (strlen(parts.pdu[p]) >= GSM_PDU_TEXT_MAX)
            abort();
}

inline void cdma_input(const uint8_t* data, size_t size)
{
    std::string text = pdu_text(data, size);
    CdmaShortMessage msg;
    cdma_decode_pdu(text.c_str(), static_cast<int>(text.size()), &msg);
    require_terminated(msg.tpa);
    if (msg.tp_ud[sizeof msg.tp_ud - 1] != 0)
        abort();
    char pdu[CDMA_PDU_TEXT_MAX];
    int octets = cdma_encode_pdu(&msg, pdu);
    if (octets > CDMA_TRANSPORT_MAX || (octets > 0 && strlen(pdu) != static_cast<size_t>(2 * octets)))
        abort();
}

} // namespace fuzz
