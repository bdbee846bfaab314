// pdutool: shows what the SMS daemon reads from a PDU the modem printed, and builds the
// PDUs it would send for a number and a text: by default as brenlow does with its unicode
// option on, with --plain as the plain codecs do (the option off).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cdma_pdu.h"
#include "cdma_text.h"
#include "gsm_alphabet.h"
#include "gsm_pdu.h"
#include "gsm_text.h"
#include "log.h"
#include "pdu_check.h"

namespace {

// Set by --plain: the codecs brenlow uses with its unicode option off.
bool plain = false;
// Bytes of a text brenlow hands the CDMA encoder.
constexpr size_t CDMA_SENT_TEXT_MAX = 160;

void usage(FILE* out)
{
    fprintf(out,
            "usage: pdutool [-v] [--plain] COMMAND ARGUMENTS\n"
            "  gsm-decode HEX       what brenlow reads from an SMS-DELIVER PDU the modem printed\n"
            "      pdutool gsm-decode 0891683108200505F0040B912143658709F10000213041516273000AE8329BFD4697D9EC37\n"
            "  cdma-decode HEX      what brenlow reads from a CDMA transport-layer message\n"
            "      pdutool cdma-decode 000002100204040146aa18060100081c0003200000010410148d2003060000000000000501000801000d0101\n"
            "  gsm-encode [--ref N] NUMBER TEXT\n"
            "                       the SMS-SUBMIT PDUs brenlow sends, each with its AT+CMGS length:\n"
            "                       the GSM alphabet or UCS2, in parts under reference N (0) when long\n"
            "      pdutool gsm-encode +8613800138000 hello\n"
            "  cdma-encode NUMBER TEXT\n"
            "                       the CDMA message brenlow sends, and its AT^HCMGS length\n"
            "      pdutool cdma-encode 10086 Hi\n"
            "  -v       print the codecs' Debug log lines on standard error\n"
            "  --plain  the plain codecs, as brenlow uses them with its unicode option off: texts\n"
            "           byte for byte, a long message's header read as text, one PDU a message;\n"
            "           then gsm-encode also takes [--ucs2|--8bit] [--sca DIGITS] and cdma-encode\n"
            "           [--unicode|--octet], codings brenlow itself never chooses\n"
            "  --help   this text\n"
            "Without --plain, texts are shown in UTF-8 as brenlow reads them with its unicode\n"
            "option on, control characters as \\n, \\r, \\t or \\xNN, and a long message's part\n"
            "header on a line of its own.\n"
            "A PDU that is not hex, has an odd length, is cut short or is not of the kind the\n"
            "command decodes is refused with one line on standard error and exit status 2.\n");
}

// A command line that does not parse: the usage text, status 2.
int usage_error()
{
    usage(stderr);
    return 2;
}

// Refuses a malformed PDU in one line, as the usage text promises.
int refuse(const char* command, const char* why)
{
    fprintf(stderr, "pdutool %s: %s\n", command, why);
    return 2;
}

// Text with control and non-ASCII bytes shown as \xNN.
void print_text(const char* label, const char* text, int length)
{
    printf("%-16s \"", label);
    for (int i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
            putchar(c);
        else
            printf("\\x%02X", c);
    }
    printf("\"\n");
}

void print_hex(const char* label, const char* data, int length)
{
    printf("%-16s ", label);
    for (int i = 0; i < length; i++)
        printf("%02X", static_cast<unsigned char>(data[i]));
    printf("\n");
}

// Big-endian UCS-2 units as UTF-8, for reading Unicode messages on a terminal.
void print_ucs2(const char* label, const char* data, int length)
{
    printf("%-16s \"", label);
    for (int i = 0; i + 1 < length; i += 2) {
        unsigned unit = (static_cast<unsigned char>(data[i]) << 8) | static_cast<unsigned char>(data[i + 1]);
        if (unit < 0x80)
            putchar(static_cast<int>(unit));
        else if (unit < 0x800)
            printf("%c%c", 0xC0 | (unit >> 6), 0x80 | (unit & 0x3F));
        else
            printf("%c%c%c", 0xE0 | (unit >> 12), 0x80 | ((unit >> 6) & 0x3F), 0x80 | (unit & 0x3F));
    }
    printf("\"\n");
}

// UTF-8 text as a terminal shows it: control characters as \n, \r, \t or \xNN, quote
// and backslash as \xNN, bytes that are no UTF-8 as \xNN.
void print_utf8(const char* label, const char* text, int length)
{
    printf("%-16s \"", label);
    for (int pos = 0; pos < length;) {
        int start = pos;
        int32_t cp = utf8_next(text, length, &pos);
        unsigned c = static_cast<unsigned char>(text[start]);
        bool malformed = cp < 0 || (cp == '?' && c != '?');
        if (malformed) {
            for (int i = start; i < pos; i++)
                printf("\\x%02X", static_cast<unsigned char>(text[i]));
        } else if (cp == '\n') {
            printf("\\n");
        } else if (cp == '\r') {
            printf("\\r");
        } else if (cp == '\t') {
            printf("\\t");
        } else if (cp < 0x20 || cp == 0x7F || cp == '"' || cp == '\\') {
            printf("\\x%02X", static_cast<unsigned>(cp));
        } else {
            fwrite(text + start, 1, pos - start, stdout);
        }
    }
    printf("\"\n");
}

void print_concat(const ConcatHeader& concat)
{
    if (concat.total > 0)
        printf("%-16s part %d of %d, reference %d\n", "header", concat.part, concat.total, concat.ref);
}

int gsm_decode(const char* hex)
{
    char why[160];
    if (check_gsm_deliver(hex, why, sizeof why) != 0)
        return refuse("gsm-decode", why);
    // The daemon's decoder reads upper-case hex only, as modems print it.
    char upper[2 * 512 + 1];
    snprintf(upper, sizeof upper, "%s", hex);
    for (char* p = upper; *p; ++p)
        if (*p >= 'a' && *p <= 'f')
            *p = static_cast<char>(*p - 'a' + 'A');
    hex = upper;
    ShortMessage msg;
    ConcatHeader concat = {};
    char text[GSM_TEXT_UTF8_SIZE];
    int udl = 0, length = 0;
    if (plain)
        udl = gsm_decode_pdu(hex, &msg);
    else
        length = gsm_decode_text(hex, &msg, text, sizeof text, &concat);
    printf("%-16s %s\n", "sca", msg.sca);
    printf("%-16s %s\n", "tpa", msg.tpa);
    printf("%-16s %u\n", "tp_pid", msg.tp_pid);
    printf("%-16s %u\n", "tp_dcs", msg.tp_dcs);
    printf("%-16s %s\n", "scts", msg.scts);
    if (plain) {
        printf("%-16s %d\n", "udl", udl);
        print_text("tp_ud", msg.tp_ud, static_cast<int>(strlen(msg.tp_ud)));
    } else {
        print_concat(concat);
        print_utf8("text", text, length);
    }
    return 0;
}

int cdma_decode(const char* hex)
{
    char why[160];
    if (check_cdma_transport(hex, why, sizeof why) != 0)
        return refuse("cdma-decode", why);
    CdmaShortMessage msg;
    ConcatHeader concat = {};
    char text[GSM_TEXT_UTF8_SIZE];
    int length = 0;
    if (plain)
        cdma_decode_pdu(hex, static_cast<int>(strlen(hex)), &msg);
    else
        length = cdma_decode_text(hex, &msg, text, sizeof text, &concat);
    char stamp[13];
    cdma_scts_to_text(&msg, stamp);
    printf("%-16s %s\n", "tpa", msg.tpa);
    printf("%-16s %s\n", "scts", stamp);
    printf("%-16s %u\n", "teleservice_id", msg.teleservice_id);
    printf("%-16s %u\n", "msg_id", msg.msg_id);
    printf("%-16s %u\n", "bearer_msg_type", msg.bearer_msg_type);
    printf("%-16s %u\n", "encoding", msg.encoding);
    printf("%-16s %u\n", "tp_dcs", msg.tp_dcs);
    printf("%-16s %u\n", "msgLen", msg.msgLen);
    printf("%-16s ref %u seg %u curSeg %u\n", "segment", msg.ref, msg.seg, msg.curSeg);
    printf("%-16s src %u dst %u\n", "ports", msg.SrcPort, msg.DstPort);
    printf("%-16s %u\n", "header_ind", msg.header_ind);
    printf("%-16s %u\n", "priority", msg.priority);
    printf("%-16s %u\n", "num_messages", msg.num_messages);
    printf("%-16s %u\n", "vmn", msg.vmn);
    printf("%-16s %u\n", "immediate", msg.immediate_display);
    printf("%-16s class %u code %u\n", "status", msg.error_class, msg.status_code);
    print_hex("tp_ud (hex)", msg.tp_ud, msg.msgLen);
    if (!plain) {
        print_concat(concat);
        print_utf8("text", text, length);
    } else if (msg.tp_dcs == 8)
        print_ucs2("tp_ud (text)", msg.tp_ud, msg.msgLen);
    else
        print_text("tp_ud (text)", msg.tp_ud, static_cast<int>(strnlen(msg.tp_ud, msg.msgLen)));
    return 0;
}

// A coding option of the plain codecs given without --plain.
int refuse_plain_option(const char* command, const char* option)
{
    fprintf(stderr, "pdutool %s: %s is a coding of the plain codecs, which brenlow never chooses itself; "
                    "add --plain\n", command, option);
    return 2;
}

// NUMBER TEXT after the options, with a number the SMS-SUBMIT destination field holds
// (brenlow sends nothing to a longer one): 0, else the exit status.
int gsm_operands_error(int argc, char** argv, int i)
{
    if (argc - i != 2)
        return usage_error();
    if (strlen(argv[i]) < sizeof(ShortMessage::tpa))
        return 0;
    fprintf(stderr, "pdutool: the number is longer than %zu characters: brenlow does not send to it\n",
            sizeof(ShortMessage::tpa) - 1);
    return 1;
}

// As brenlow sends with its unicode option on: the GSM alphabet when every character has
// a form in it, else UCS2, in parts when the text does not fit one message.
int gsm_encode_text_parts(int argc, char** argv)
{
    int ref = 0;
    int i = 0;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
        if (!strcmp(argv[i], "--ref") && i + 1 < argc) {
            char* end = nullptr;
            long value = strtol(argv[++i], &end, 10);
            if (*end != '\0' || end == argv[i] || value < 0 || value > 255) {
                fprintf(stderr, "pdutool gsm-encode: --ref takes 0 to 255\n");
                return 2;
            }
            ref = static_cast<int>(value);
        } else if (!strcmp(argv[i], "--ucs2") || !strcmp(argv[i], "--8bit") || !strcmp(argv[i], "--sca")) {
            return refuse_plain_option("gsm-encode", argv[i]);
        } else {
            return usage_error();
        }
    }
    if (int status = gsm_operands_error(argc, argv, i))
        return status;
    static GsmSubmitParts parts;
    int count = gsm_encode_text(argv[i], argv[i + 1], static_cast<uint8_t>(ref), &parts);
    for (int p = 0; p < count; p++)
        printf("%s\nAT+CMGS=%d\n", parts.pdu[p], parts.tpdu_length[p]);
    if (parts.dropped > 0)
        fprintf(stderr, "pdutool: longer than %d parts: the last %d characters are not sent\n", GSM_SEND_PARTS_MAX,
                parts.dropped);
    return 0;
}

int gsm_encode(int argc, char** argv)
{
    if (!plain)
        return gsm_encode_text_parts(argc, argv);
    ShortMessage msg = {};
    int i = 0;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
        if (!strcmp(argv[i], "--ucs2")) {
            msg.tp_dcs = 8;
        } else if (!strcmp(argv[i], "--8bit")) {
            msg.tp_dcs = 4;
        } else if (!strcmp(argv[i], "--sca") && i + 1 < argc) {
            snprintf(msg.sca, sizeof msg.sca, "%s", argv[++i]);
        } else {
            return usage_error();
        }
    }
    if (int status = gsm_operands_error(argc, argv, i))
        return status;
    snprintf(msg.tpa, sizeof msg.tpa, "%s", argv[i]);
    snprintf(msg.tp_ud, sizeof msg.tp_ud, "%s", argv[i + 1]);
    char pdu[GSM_PDU_TEXT_MAX];
    int length = gsm_encode_pdu(&msg, pdu);
    printf("%s\n", pdu);
    printf("AT+CMGS=%d\n", gsm_tpdu_length(pdu, length));
    return 0;
}

int cdma_encode(int argc, char** argv)
{
    CdmaShortMessage msg = {};
    int i = 0;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
        if (!plain && (!strcmp(argv[i], "--unicode") || !strcmp(argv[i], "--octet"))) {
            return refuse_plain_option("cdma-encode", argv[i]);
        } else if (!strcmp(argv[i], "--unicode")) {
            msg.tp_dcs = 8;
        } else if (!strcmp(argv[i], "--octet")) {
            msg.tp_dcs = 4;
        } else {
            return usage_error();
        }
    }
    if (argc - i != 2)
        return usage_error();
    snprintf(msg.tpa, sizeof msg.tpa, "%s", argv[i]);
    const char* text = argv[i + 1];
    if (msg.tp_dcs == 8) {
        // The sender hands Unicode over as big-endian units.
        int n = static_cast<int>(strlen(text));
        uint8_t units[2 * sizeof msg.tp_ud];
        int octets = utf8_to_ucs2(text, n, units);
        if (octets > static_cast<int>(sizeof msg.tp_ud) - 2)
            octets = sizeof msg.tp_ud - 2;
        memcpy(msg.tp_ud, units, octets);
        msg.msgLen = static_cast<uint8_t>(octets);
    } else {
        // brenlow sends the first 160 bytes of a text, in either mode.
        size_t n = strnlen(text, CDMA_SENT_TEXT_MAX);
        memcpy(msg.tp_ud, text, n);
        msg.msgLen = static_cast<uint8_t>(n);
    }
    char pdu[CDMA_PDU_TEXT_MAX];
    int octets = cdma_encode_pdu(&msg, pdu);
    if (octets == 0) {
        fprintf(stderr, "pdutool: the number or text cannot be encoded\n");
        return 1;
    }
    printf("%s\n", pdu);
    printf("AT^HCMGS=%d\n", octets);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int i = 1;
    log_set_level(LOG_INFO);
    log_set_output(LOG_OUT_STDERR);
    for (; i < argc && (!strcmp(argv[i], "-v") || !strcmp(argv[i], "--plain")); i++) {
        if (argv[i][1] == 'v')
            log_set_level(LOG_DEBUG);
        else
            plain = true;
    }
    if (i >= argc)
        return usage_error();
    const char* command = argv[i++];
    if (!strcmp(command, "--help") || !strcmp(command, "-h")) {
        usage(stdout);
        return 0;
    }
    if (!strcmp(command, "gsm-decode") && argc - i == 1)
        return gsm_decode(argv[i]);
    if (!strcmp(command, "cdma-decode") && argc - i == 1)
        return cdma_decode(argv[i]);
    if (!strcmp(command, "gsm-encode"))
        return gsm_encode(argc - i, argv + i);
    if (!strcmp(command, "cdma-encode"))
        return cdma_encode(argc - i, argv + i);
    return usage_error();
}
