// The line a read script prints, through the decoder of the mode into the
// journal: one message always makes exactly one journal line. The first byte
// picks the mode (odd: CDMA) and the unicode option (bit 1). The same bytes,
// as a modem's answer, go through the readers of its verdict and its message
// count.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "at_channel.h"
#include "brenlow_state.h"
#include "cdma_sms.h"
#include "fuzz_setup.h"
#include "gsm_sms.h"
#include "journal.h"
#include "sms_manager.h"
#include "stored_pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& root = fuzz::private_root();
    if (size == 0)
        return 0;
    bool cdma = data[0] & 1;
    brenlow.sms_mode = cdma ? SmsMode::Cdma : SmsMode::Gsm;
    // The read output is the script's first line, its newline removed.
    std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);
    answer = answer.substr(0, answer.find('\0'));
    char line[SEND_ANSWER_SIZE];
    int used = 0, total = 0;
    at_final_result(answer.c_str(), line, sizeof line);
    cdma_submit_report(answer.c_str(), line, sizeof line);
    if (parse_storage_count(answer.c_str(), cdma ? "$QCPMS:" : "+CPMS:", &used, &total) && (used < 0 || total < 0))
        abort();
    std::string output = fuzz::as_line(data + 1, size - 1, READ_OUTPUT_SIZE - 1);
    output = output.substr(0, output.find('\n'));
    StoredMessage msg;
    memset(&msg, 0, sizeof msg);
    snprintf(msg.pdu, sizeof msg.pdu, "%s", output.c_str());
    bool whole_text = data[0] & 2;
    if (cdma)
        cdma_decode_stored(&msg, whole_text);
    else
        gsm_decode_stored(&msg, whole_text);
    if (!memchr(msg.sender, 0, sizeof msg.sender) || !memchr(msg.stamp, 0, sizeof msg.stamp) ||
        !memchr(msg.text, 0, sizeof msg.text) || (!whole_text && strlen(msg.text) >= INBOX_TEXT_SIZE))
        abort();
    InboxMessage record = {};
    snprintf(record.sender, sizeof record.sender, "%s", msg.sender);
    snprintf(record.text, sizeof record.text, "%s", msg.text);
    std::string journal = root + "/etc/config/sms_record";
    remove(journal.c_str());
    if (msg.sender[0] == '\0')
        record_undeliverable(&record, msg.pdu);
    else
        record_received(&record);
    FILE* f = fopen(journal.c_str(), "r");
    if (!f)
        abort();
    char text[1024];
    size_t n = fread(text, 1, sizeof text, f);
    fclose(f);
    // Exactly one line: a newline at its end and no control character before.
    if (n == 0 || text[n - 1] != '\n')
        abort();
    for (size_t i = 0; i + 1 < n; ++i)
        if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F)
            abort();
    return 0;
}
