#include "modem_session.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "pdu.h"
#include "store.h"

namespace {

constexpr size_t MAX_LINE = 560;       // longest command line kept; the rest is dropped
constexpr size_t MAX_PDU_CHARS = 1024; // hex characters kept in PDU entry
constexpr long MAX_GSM_TPDU = 164;     // longest SMS-SUBMIT TPDU
constexpr long MAX_CDMA_MESSAGE = 255; // transport length counts in 8 bits
constexpr int DEFAULT_CSQ = 20;
constexpr char SMSC_NUMBER[] = "+8613800250500";
constexpr char CTRL_Z = 0x1A;
constexpr char ESCAPE = 0x1B;

const std::string OK = "\r\nOK\r\n";
const std::string ERROR = "\r\nERROR\r\n";

std::string info(const std::string& text)
{
    return "\r\n" + text + "\r\n";
}

std::string cms_error(int code)
{
    return info("+CMS ERROR: " + std::to_string(code));
}

bool starts_with(const std::string& s, const char* prefix, std::string* rest = nullptr)
{
    size_t n = std::char_traits<char>::length(prefix);
    if (s.compare(0, n, prefix) != 0)
        return false;
    if (rest)
        *rest = s.substr(n);
    return true;
}

// A plain decimal of 1 to 3 digits.
bool parse_number(const std::string& s, long& value)
{
    if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = strtol(s.c_str(), nullptr, 10);
    return true;
}

// Storage list of +CPMS/$QCPMS: up to three quoted memory names.
bool valid_storages(const std::string& args)
{
    static const char* const NAMES[] = {"\"SM\"", "\"ME\"", "\"MT\"", "\"BM\"", "\"SR\""};
    size_t pos = 0;
    int count = 0;
    while (pos <= args.size() && count < 3) {
        size_t end = args.find(',', pos);
        std::string name = args.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        bool known = false;
        for (const char* n : NAMES)
            known = known || name == n;
        if (!known)
            return false;
        ++count;
        if (end == std::string::npos)
            return true;
        pos = end + 1;
    }
    return false;
}

bool digits_and_commas(const std::string& s)
{
    return !s.empty() && s.find_first_not_of("0123456789,") == std::string::npos;
}

int signal_quality(const std::string& store)
{
    FILE* f = fopen((store + "/.csq").c_str(), "r");
    if (!f)
        return DEFAULT_CSQ;
    int v = DEFAULT_CSQ;
    if (fscanf(f, "%d", &v) != 1 || v < 0 || (v > 31 && v != 99))
        v = DEFAULT_CSQ;
    fclose(f);
    return v;
}

void append_sent(const std::string& file, const SubmittedMessage& msg)
{
    std::string line = msg.number + "\t" + escape_sent_text(msg.text) + "\n";
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        fprintf(stderr, "modemsim: cannot append to %s\n", file.c_str());
    if (fd >= 0)
        close(fd);
}

// The command as written after "AT", upper case and without blanks; empty
// when the line holds no "AT" (a modem ignores noise in front of it).
bool command_text(const std::string& line, std::string& cmd)
{
    size_t at = 0;
    while (at + 1 < line.size() && !(toupper(line[at]) == 'A' && toupper(line[at + 1]) == 'T'))
        ++at;
    if (at + 1 >= line.size())
        return false;
    cmd.clear();
    for (size_t i = at + 2; i < line.size(); ++i)
        if (line[i] != ' ')
            cmd.push_back(static_cast<char>(toupper(static_cast<unsigned char>(line[i]))));
    return true;
}

// The storage query's answer: the first memory's name, then used and total
// of each of the three, as 27.005 lays it out.
std::string storage_report(const char* tag, const std::string& store)
{
    std::string used = std::to_string(store_count(store));
    std::string total = std::to_string(STORE_SLOTS);
    std::string one = used + "," + total;
    return info(std::string(tag) + ": \"SM\"," + one + ",\"SM\"," + one + ",\"SM\"," + one) + OK;
}

} // namespace

std::string escape_sent_text(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out.push_back(c);
    }
    return out;
}

std::string ModemSession::feed(const char* data, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        char c = data[i];
        if (input_ == Input::Pdu) {
            if (c == CTRL_Z) {
                record("PDU " + pdu_raw_ + "^Z");
                input_ = Input::Line;
                if (opt_.hold_send_result)
                    held_ = finish_submit();
                else
                    out += finish_submit();
            } else if (c == ESCAPE) {
                record("PDU " + pdu_raw_ + "^[");
                input_ = Input::Line;
                out += OK;
            } else {
                if (echo_)
                    out.push_back(c);
                if (pdu_raw_.size() < MAX_PDU_CHARS)
                    pdu_raw_.push_back(c);
                if (c != '\r' && c != '\n' && pdu_.size() < MAX_PDU_CHARS)
                    pdu_.push_back(c);
            }
            continue;
        }
        if (echo_)
            out.push_back(c);
        if (c == '\r') {
            std::string line;
            line.swap(line_);
            record(line);
            if (stall_trigger(line)) {
                held_input_.assign(data + i + 1, n - i - 1);
                return out; // the rest waits for resume()
            }
            out += run_command(line);
            if (vanish_)
                return out; // the line is gone: nothing after this is read
        } else if (c == '\b' || c == 0x7F) {
            if (!line_.empty())
                line_.pop_back();
        } else if (c == ESCAPE) {
            record("^[");
        } else if (c != '\n' && line_.size() < MAX_LINE) {
            line_.push_back(c);
        }
    }
    return out;
}

bool ModemSession::stall_trigger(const std::string& line)
{
    std::string cmd;
    if (opt_.stall_at.empty() || !command_text(line, cmd) || !starts_with(cmd, opt_.stall_at.c_str()) ||
        ++stall_seen_ != opt_.stall_nth)
        return false;
    stalled_line_ = line;
    stalled_ = true;
    stall_started_ = true;
    return true;
}

std::string ModemSession::resume()
{
    if (!stalled_)
        return "";
    stalled_ = false;
    std::string out = run_command(stalled_line_);
    std::string held;
    held.swap(held_input_);
    return out + feed(held.data(), held.size());
}

std::string ModemSession::run_command(const std::string& line)
{
    std::string cmd;
    if (!command_text(line, cmd))
        return "";

    if (!opt_.vanish_at.empty() && starts_with(cmd, opt_.vanish_at.c_str()) && ++vanish_seen_ == opt_.vanish_nth) {
        vanish_ = true;
        return "";
    }
    // A modem that has gone wrong answers ERROR to everything.
    if (marker(".answer_error"))
        return ERROR;
    if (cmd.empty() || cmd == "V1" || cmd == "Q0" || cmd == "&C1" || cmd == "&D2" || starts_with(cmd, "+CMEE="))
        return OK;
    if (cmd == "E0" || cmd == "E") {
        echo_ = false;
        return OK;
    }
    if (cmd == "E1" || cmd == "Z" || cmd == "&F") {
        echo_ = true;
        return OK;
    }
    if (cmd == "I" || cmd == "+CGMM" || cmd == "+GMM")
        return info(opt_.mode == ModemMode::Gsm ? "modemsim GSM" : "modemsim CDMA") + OK;
    if (cmd == "+CGMI" || cmd == "+GMI")
        return info("modemsim") + OK;
    if (cmd == "+CSQ")
        return info("+CSQ: " + std::to_string(signal_quality(opt_.store)) + ",99") + OK;
    if (cmd == "+CSQ=?")
        return info("+CSQ: (0-31,99),(0-7,99)") + OK;
    return opt_.mode == ModemMode::Gsm ? run_gsm(cmd) : run_cdma(cmd);
}

std::string ModemSession::run_gsm(const std::string& cmd)
{
    std::string arg;
    if (cmd == "+CMGF=0")
        return OK;
    if (cmd == "+CMGF?")
        return info("+CMGF: 0") + OK;
    if (cmd == "+CPMS?")
        return storage_report("+CPMS", opt_.store);
    if (starts_with(cmd, "+CPMS=", &arg)) {
        if (!valid_storages(arg))
            return cms_error(302);
        std::string used = std::to_string(store_count(opt_.store));
        std::string total = std::to_string(STORE_SLOTS);
        return info("+CPMS: " + used + "," + total + "," + used + "," + total + "," + used + "," + total) + OK;
    }
    if (starts_with(cmd, "+CNMI=", &arg))
        return digits_and_commas(arg) ? OK : ERROR;
    if (cmd == "+CSCA?")
        return info(std::string("+CSCA: \"") + SMSC_NUMBER + "\",145") + OK;
    if (starts_with(cmd, "+CMGS=", &arg))
        return start_submit(arg, MAX_GSM_TPDU);
    if (starts_with(cmd, "+CMGR=", &arg))
        return read_slot(arg, "+CMGR");
    if (starts_with(cmd, "+CMGD=", &arg))
        return delete_slots(arg);
    return ERROR;
}

std::string ModemSession::run_cdma(const std::string& cmd)
{
    std::string arg;
    if (cmd == "$QCMGF=0" || cmd == "+SMSMODE=1")
        return OK;
    if (cmd == "+SMSMODE?")
        return info("+SMSMODE: 1") + OK;
    if (cmd == "$QCPMS?")
        return storage_report("$QCPMS", opt_.store);
    if (starts_with(cmd, "$QCPMS=", &arg)) {
        if (!valid_storages(arg))
            return cms_error(302);
        std::string used = std::to_string(store_count(opt_.store));
        std::string total = std::to_string(STORE_SLOTS);
        return info("$QCPMS: " + used + "," + total + "," + used + "," + total + "," + used + "," + total) + OK;
    }
    if (starts_with(cmd, "$QCNMI=", &arg))
        return digits_and_commas(arg) ? OK : ERROR;
    if (starts_with(cmd, "^HCMGS=", &arg))
        return start_submit(arg, MAX_CDMA_MESSAGE);
    if (starts_with(cmd, "$QCMGR=", &arg))
        return read_slot(arg, "$QCMGR");
    if (starts_with(cmd, "$QCMGD=", &arg))
        return delete_slots(arg);
    return ERROR;
}

std::string ModemSession::read_slot(const std::string& arg, const char* tag)
{
    long index;
    std::string pdu;
    if (!parse_number(arg, index))
        return ERROR;
    if (!store_read(opt_.store, static_cast<int>(index), pdu))
        return cms_error(321); // invalid memory index: the slot is empty
    long length = static_cast<long>(pdu.size() / 2);
    if (opt_.mode == ModemMode::Gsm)
        length = gsm_tpdu_length(pdu);
    // Status 0 (received unread) the first time, 1 (received read) after.
    bool seen = !read_.insert(std::to_string(index) + ":" + pdu).second;
    std::string header = std::string(tag) + ": " + (seen ? "1" : "0") + ",," + std::to_string(length);
    return info(header) + pdu + "\r\n" + OK;
}

std::string ModemSession::delete_slots(const std::string& arg)
{
    size_t comma = arg.find(',');
    long index, flag = 0;
    if (!parse_number(arg.substr(0, comma), index) ||
        (comma != std::string::npos && (!parse_number(arg.substr(comma + 1), flag) || flag > 4)))
        return ERROR;
    if (index >= STORE_SLOTS)
        return cms_error(321);
    if (flag == 0) {
        store_delete(opt_.store, static_cast<int>(index));
        return OK;
    }
    // Flags 1-3 delete read messages (nothing is ever stored unsent here), 4 all.
    for (int i = 0; i < STORE_SLOTS; ++i) {
        std::string pdu;
        if (store_read(opt_.store, i, pdu) && (flag == 4 || read_.count(std::to_string(i) + ":" + pdu)))
            store_delete(opt_.store, i);
    }
    return OK;
}

std::string ModemSession::start_submit(const std::string& arg, long max_len)
{
    long length;
    if (!parse_number(arg, length) || length < 1 || length > max_len)
        return cms_error(304);
    pdu_.clear();
    pdu_raw_.clear();
    pdu_len_ = length;
    input_ = Input::Pdu;
    return "\r\n> ";
}

int ModemSession::next_reference()
{
    reference_ = (reference_ + 1) % 256;
    return reference_;
}

std::string ModemSession::finish_submit()
{
    SubmittedMessage msg;
    std::string err;
    bool gsm = opt_.mode == ModemMode::Gsm;
    bool ok = gsm ? parse_gsm_submit(pdu_, pdu_len_, msg, err) : parse_cdma_submit(pdu_, pdu_len_, msg, err);
    if (!ok) {
        fprintf(stderr, "modemsim: rejected PDU %s: %s\n", pdu_.c_str(), err.c_str());
        return cms_error(304); // invalid PDU mode parameter
    }
    std::string once = opt_.store + "/.fail_next_send";
    bool fail_once = access(once.c_str(), F_OK) == 0;
    if (fail_once)
        unlink(once.c_str());
    if (fail_once || marker(".fail_sends"))
        return gsm ? cms_error(500) : info("^HCMGSF: 500");
    append_sent(opt_.sent_file, msg);
    std::string mr = std::to_string(next_reference());
    if (gsm)
        return info("+CMGS: " + mr) + OK;
    // The network's confirmation follows the acceptance, as on Huawei CDMA modules.
    return info("^HCMGS: " + mr) + OK + info("^HCMGSS: " + mr);
}

bool ModemSession::marker(const char* name) const
{
    return access((opt_.store + "/" + name).c_str(), F_OK) == 0;
}

// One line per command line or PDU, control bytes written as \xNN, so a
// test can tell exactly what reached the modem.
void ModemSession::record(const std::string& what) const
{
    if (opt_.record_file.empty())
        return;
    std::string line;
    for (unsigned char c : what) {
        char hex[8];
        if (c < 0x20 || c >= 0x7F || c == '\\') {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            line += hex;
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    line.push_back('\n');
    int fd = open(opt_.record_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        fprintf(stderr, "modemsim: cannot append to %s\n", opt_.record_file.c_str());
    if (fd >= 0)
        close(fd);
}
