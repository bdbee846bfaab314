// Decode and encode cost per PDU for both modes (run by hand, not part of ctest).
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>

#include "cdma_pdu.h"
#include "gsm_pdu.h"
#include "gsm_text.h"

namespace {

const std::string TEXT_160 =
    "The quick brown fox jumps over the lazy dog while the router keeps its modem busy "
    "with status reports, alarms and remote commands sent by SMS. 0123456789 abcdefg";

std::string gsm_deliver_160()
{
    ShortMessage msg = {};
    snprintf(msg.tpa, sizeof msg.tpa, "10086");
    snprintf(msg.tp_ud, sizeof msg.tp_ud, "%s", TEXT_160.c_str());
    char pdu[GSM_PDU_TEXT_MAX];
    gsm_encode_pdu(&msg, pdu);
    // SMSC and sender in front of the packed user data of the SUBMIT.
    return std::string("0891683108200505F0" "040B912143658709F1" "0000" "21304151627300") + (pdu + 22);
}

CdmaShortMessage cdma_outgoing_160()
{
    CdmaShortMessage msg = {};
    snprintf(msg.tpa, sizeof msg.tpa, "13800138000");
    snprintf(msg.tp_ud, sizeof msg.tp_ud, "%s", TEXT_160.c_str());
    msg.msgLen = 160;
    return msg;
}

void GsmDecode160(benchmark::State& state)
{
    std::string pdu = gsm_deliver_160();
    ShortMessage msg;
    for (auto _ : state) {
        gsm_decode_pdu(pdu.c_str(), &msg);
        benchmark::DoNotOptimize(msg);
    }
    if (strlen(msg.tp_ud) != 160)
        state.SkipWithError("decoded text is not 160 characters");
}
BENCHMARK(GsmDecode160);

void GsmEncode160(benchmark::State& state)
{
    ShortMessage msg = {};
    snprintf(msg.tpa, sizeof msg.tpa, "+8613800138000");
    snprintf(msg.tp_ud, sizeof msg.tp_ud, "%s", TEXT_160.c_str());
    char pdu[GSM_PDU_TEXT_MAX];
    for (auto _ : state) {
        benchmark::DoNotOptimize(gsm_encode_pdu(&msg, pdu));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(GsmEncode160);

void CdmaDecode160(benchmark::State& state)
{
    CdmaShortMessage out = cdma_outgoing_160();
    char pdu[CDMA_PDU_TEXT_MAX];
    cdma_encode_pdu(&out, pdu);
    int length = static_cast<int>(strlen(pdu));
    CdmaShortMessage msg;
    for (auto _ : state) {
        cdma_decode_pdu(pdu, length, &msg);
        benchmark::DoNotOptimize(msg);
    }
    if (msg.msgLen != 160)
        state.SkipWithError("decoded text is not 160 characters");
}
BENCHMARK(CdmaDecode160);

void CdmaEncode160(benchmark::State& state)
{
    CdmaShortMessage msg = cdma_outgoing_160();
    char pdu[CDMA_PDU_TEXT_MAX];
    for (auto _ : state) {
        benchmark::DoNotOptimize(cdma_encode_pdu(&msg, pdu));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(CdmaEncode160);

// The unicode option's codecs: 160 characters of the GSM alphabet (ten of
// them "@" and non-ASCII letters) and 70 CJK characters in UCS2, the most
// one PDU holds of each.
const std::string GSM_TEXT_160 = TEXT_160.substr(0, 150) + "@£_$éΔ!¥ñü";

std::string cjk_70()
{
    std::string text;
    for (int i = 0; i < 70; i++)
        text += i % 2 ? "开" : "中";
    return text;
}

// The SUBMIT of the daemon's encoder made into a DELIVER, as for GsmDecode160.
std::string deliver_of(const std::string& text)
{
    GsmSubmitParts parts;
    gsm_encode_text("10086", text.c_str(), 1, &parts);
    return std::string("0891683108200505F0" "040B912143658709F1") + std::string(parts.pdu[0] + 16, 4) +
           "21304151627300" + (parts.pdu[0] + 22);
}

void decode_text(benchmark::State& state, const std::string& text)
{
    std::string pdu = deliver_of(text);
    ShortMessage msg;
    ConcatHeader concat;
    char out[GSM_TEXT_UTF8_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(gsm_decode_text(pdu.c_str(), &msg, out, sizeof out, &concat));
        benchmark::ClobberMemory();
    }
    if (text != out)
        state.SkipWithError("decoded text differs");
}

void encode_text(benchmark::State& state, const std::string& text)
{
    GsmSubmitParts parts;
    for (auto _ : state) {
        benchmark::DoNotOptimize(gsm_encode_text("+8613800138000", text.c_str(), 1, &parts));
        benchmark::ClobberMemory();
    }
    if (parts.count != 1)
        state.SkipWithError("text took more than one PDU");
}

void GsmTextDecodeAlphabet160(benchmark::State& state) { decode_text(state, GSM_TEXT_160); }
void GsmTextEncodeAlphabet160(benchmark::State& state) { encode_text(state, GSM_TEXT_160); }
void GsmTextDecodeUcs2_70(benchmark::State& state) { decode_text(state, cjk_70()); }
void GsmTextEncodeUcs2_70(benchmark::State& state) { encode_text(state, cjk_70()); }
BENCHMARK(GsmTextDecodeAlphabet160);
BENCHMARK(GsmTextEncodeAlphabet160);
BENCHMARK(GsmTextDecodeUcs2_70);
BENCHMARK(GsmTextEncodeUcs2_70);

} // namespace

BENCHMARK_MAIN();
