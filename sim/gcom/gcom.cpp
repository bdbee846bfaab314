// Stand-in for the gcom modem-script tool: opens the modem line and runs a
// script in a small subset of gcom's language.
//
//   gcom -d DEVICE [-s] SCRIPT
//
// Statements: opengt, set com <speed>n81 (other set options are accepted and
// ignored), waitquiet T Q, send EXPR, waitfor T EXPR[,EXPR...], get T EXPR $var,
// let $var=EXPR, print EXPR[,EXPR...], if EXPR OP EXPR goto LABEL, goto LABEL,
// exit N, :LABEL and # comments. Expressions join "strings" (^m style control
// characters and \n, \r, \t, \\, \" escapes), $env("NAME"), $var, %, numbers
// and len(EXPR) with +. % holds the result of the last waitfor/get: the index
// of the string found, 0 for a terminated get, -1 on time-out.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int MAX_STEPS = 10000; // guards against a script looping forever

struct Value {
    bool is_num = false;
    long num = 0;
    std::string str;
    std::string text() const { return is_num ? std::to_string(num) : str; }
};

long long now_ms()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec * 1000LL + tv.tv_usec / 1000;
}

class Port {
public:
    bool open_device(const char* path)
    {
        fd_ = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            return false;
        saved_ok_ = tcgetattr(fd_, &saved_) == 0;
        set_speed(115200);
        return true;
    }
    // The line is shared with the program that started us: leave its
    // settings as they were.
    ~Port()
    {
        if (fd_ >= 0 && saved_ok_)
            tcsetattr(fd_, TCSANOW, &saved_);
        if (fd_ >= 0)
            close(fd_);
    }
    void set_speed(long speed)
    {
        struct termios tio;
        if (tcgetattr(fd_, &tio) != 0)
            return;
        cfmakeraw(&tio);
        speed_t code = speed == 9600 ? B9600 : speed == 19200 ? B19200 : speed == 57600 ? B57600 : B115200;
        cfsetispeed(&tio, code);
        cfsetospeed(&tio, code);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd_, TCSANOW, &tio);
    }
    void send(const std::string& s)
    {
        size_t done = 0;
        while (done < s.size()) {
            ssize_t w = write(fd_, s.data() + done, s.size() - done);
            if (w > 0)
                done += static_cast<size_t>(w);
            else if (w < 0 && (errno == EAGAIN || errno == EINTR))
                usleep(1000);
            else
                return;
        }
    }
    // Reads what arrives within timeout_ms; false when nothing came.
    bool fill(int timeout_ms)
    {
        struct pollfd pfd = {fd_, POLLIN, 0};
        if (poll(&pfd, 1, timeout_ms < 0 ? 0 : timeout_ms) <= 0)
            return false;
        char buf[512];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0)
            return false;
        pending.append(buf, static_cast<size_t>(n));
        return true;
    }
    std::string pending; // received, not yet consumed by the script

private:
    int fd_ = -1;
    struct termios saved_;
    bool saved_ok_ = false;
};

class Interpreter {
public:
    Interpreter(Port& port, std::vector<std::string> lines) : port_(port), lines_(std::move(lines))
    {
        for (size_t i = 0; i < lines_.size(); ++i) {
            std::string l = trim(lines_[i]);
            if (!l.empty() && l[0] == ':')
                labels_[trim(l.substr(1))] = i;
        }
    }
    int run();

private:
    static std::string trim(const std::string& s)
    {
        size_t a = s.find_first_not_of(" \t\r");
        size_t b = s.find_last_not_of(" \t\r");
        return a == std::string::npos ? "" : s.substr(a, b - a + 1);
    }
    bool fail(const char* what)
    {
        fprintf(stderr, "gcom: line %zu: %s\n", pc_ + 1, what);
        return false;
    }
    void skip_blanks()
    {
        while (pos_ < cur_.size() && (cur_[pos_] == ' ' || cur_[pos_] == '\t'))
            ++pos_;
    }
    bool at_end()
    {
        skip_blanks();
        return pos_ >= cur_.size() || cur_[pos_] == '#';
    }
    std::string word()
    {
        skip_blanks();
        size_t start = pos_;
        while (pos_ < cur_.size() && !isspace(static_cast<unsigned char>(cur_[pos_])))
            ++pos_;
        return cur_.substr(start, pos_ - start);
    }
    bool accept(char c)
    {
        skip_blanks();
        if (pos_ < cur_.size() && cur_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::string name()
    {
        size_t start = pos_;
        while (pos_ < cur_.size() && (isalnum(static_cast<unsigned char>(cur_[pos_])) || cur_[pos_] == '_'))
            ++pos_;
        return cur_.substr(start, pos_ - start);
    }
    bool string_literal(Value& v);
    bool term(Value& v);
    bool expr(Value& v);
    bool number(long& ms_out);
    bool statement(bool& stop);
    void wait_quiet(long total_ms, long quiet_ms);
    bool wait_for(long timeout_ms, const std::vector<std::string>& needles);
    bool get_until(long timeout_ms, const std::string& terms, const std::string& var);

    Port& port_;
    std::vector<std::string> lines_;
    std::map<std::string, size_t> labels_;
    std::map<std::string, std::string> vars_;
    long result_ = 0; // %
    int exit_code_ = 0;
    size_t pc_ = 0;
    std::string cur_;
    size_t pos_ = 0;
};

bool Interpreter::string_literal(Value& v)
{
    v = Value();
    ++pos_; // opening quote
    while (pos_ < cur_.size() && cur_[pos_] != '"') {
        char c = cur_[pos_++];
        if (c == '^' && pos_ < cur_.size()) {
            char k = cur_[pos_++];
            v.str.push_back(k == '^' ? '^' : static_cast<char>(toupper(static_cast<unsigned char>(k)) & 0x1F));
        } else if (c == '\\' && pos_ < cur_.size()) {
            char k = cur_[pos_++];
            v.str.push_back(k == 'n' ? '\n' : k == 'r' ? '\r' : k == 't' ? '\t' : k);
        } else {
            v.str.push_back(c);
        }
    }
    if (pos_ >= cur_.size())
        return fail("unterminated string");
    ++pos_;
    return true;
}

bool Interpreter::term(Value& v)
{
    skip_blanks();
    v = Value();
    if (pos_ >= cur_.size())
        return fail("expression expected");
    char c = cur_[pos_];
    if (c == '"')
        return string_literal(v);
    if (c == '%') {
        ++pos_;
        v.is_num = true;
        v.num = result_;
        return true;
    }
    if (isdigit(static_cast<unsigned char>(c)) || c == '-') {
        v.is_num = true;
        char* end;
        v.num = strtol(cur_.c_str() + pos_, &end, 10);
        pos_ = static_cast<size_t>(end - cur_.c_str());
        return true;
    }
    if (c == '$') {
        ++pos_;
        std::string n = name();
        if (n == "env") {
            Value key;
            if (!accept('(') || !expr(key) || !accept(')'))
                return fail("$env(\"NAME\") expected");
            const char* e = getenv(key.text().c_str());
            v.str = e ? e : "";
            return true;
        }
        v.str = vars_[n];
        return true;
    }
    std::string n = name();
    if (n == "len") {
        Value inner;
        if (!accept('(') || !expr(inner) || !accept(')'))
            return fail("len(...) expected");
        v.is_num = true;
        v.num = static_cast<long>(inner.text().size());
        return true;
    }
    return fail("unknown expression");
}

bool Interpreter::expr(Value& v)
{
    if (!term(v))
        return false;
    while (accept('+')) {
        Value rhs;
        if (!term(rhs))
            return false;
        if (v.is_num && rhs.is_num) {
            v.num += rhs.num;
        } else {
            v.str = v.text() + rhs.text();
            v.is_num = false;
        }
    }
    return true;
}

// A time in seconds, possibly fractional, as milliseconds.
bool Interpreter::number(long& ms)
{
    std::string w = word();
    char* end;
    double s = strtod(w.c_str(), &end);
    if (w.empty() || *end || s < 0)
        return fail("time in seconds expected");
    ms = static_cast<long>(s * 1000 + 0.5);
    return true;
}

void Interpreter::wait_quiet(long total_ms, long quiet_ms)
{
    long long deadline = now_ms() + total_ms;
    while (now_ms() < deadline && port_.fill(static_cast<int>(std::min<long long>(quiet_ms, deadline - now_ms())))) {
    }
    port_.pending.clear();
}

bool Interpreter::wait_for(long timeout_ms, const std::vector<std::string>& needles)
{
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        size_t best = std::string::npos, best_len = 0;
        long which = -1;
        for (size_t i = 0; i < needles.size(); ++i) {
            size_t at = port_.pending.find(needles[i]);
            if (at != std::string::npos && at < best) {
                best = at;
                best_len = needles[i].size();
                which = static_cast<long>(i);
            }
        }
        if (which >= 0) {
            port_.pending.erase(0, best + best_len);
            result_ = which;
            return true;
        }
        long long left = deadline - now_ms();
        if (left <= 0) {
            result_ = -1;
            return true;
        }
        port_.fill(static_cast<int>(left));
    }
}

bool Interpreter::get_until(long timeout_ms, const std::string& terms, const std::string& var)
{
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        size_t at = port_.pending.find_first_of(terms);
        if (at != std::string::npos) {
            vars_[var] = port_.pending.substr(0, at);
            port_.pending.erase(0, at + 1);
            result_ = 0;
            return true;
        }
        long long left = deadline - now_ms();
        if (left <= 0) {
            vars_[var] = port_.pending;
            port_.pending.clear();
            result_ = -1;
            return true;
        }
        port_.fill(static_cast<int>(left));
    }
}

bool Interpreter::statement(bool& stop)
{
    std::string kw = word();
    if (kw == "opengt" || kw == "flash")
        return true;
    if (kw == "set") {
        std::string what = word();
        std::string val = word();
        if (what == "com")
            port_.set_speed(strtol(val.c_str(), nullptr, 10));
        return true;
    }
    if (kw == "waitquiet") {
        long total, quiet;
        if (!number(total) || !number(quiet))
            return false;
        wait_quiet(total, quiet);
        return true;
    }
    if (kw == "send") {
        Value v;
        if (!expr(v))
            return false;
        port_.send(v.text());
        return true;
    }
    if (kw == "waitfor") {
        long timeout;
        std::vector<std::string> needles;
        Value v;
        if (!number(timeout) || !expr(v))
            return false;
        needles.push_back(v.text());
        while (accept(',')) {
            if (!expr(v))
                return false;
            needles.push_back(v.text());
        }
        return wait_for(timeout, needles);
    }
    if (kw == "get") {
        long timeout;
        Value terms;
        if (!number(timeout) || !expr(terms) || !accept('$'))
            return fail("get T \"terminators\" $var expected");
        std::string var = name();
        return get_until(timeout, terms.text(), var);
    }
    if (kw == "let") {
        Value v;
        if (!accept('$'))
            return fail("let $var=EXPR expected");
        std::string var = name();
        if (!accept('=') || !expr(v))
            return fail("let $var=EXPR expected");
        vars_[var] = v.text();
        return true;
    }
    if (kw == "print") {
        Value v;
        do {
            if (!expr(v))
                return false;
            fputs(v.text().c_str(), stdout);
        } while (accept(','));
        return true;
    }
    if (kw == "if") {
        Value lhs, rhs;
        if (!expr(lhs))
            return false;
        skip_blanks();
        std::string op;
        while (pos_ < cur_.size() && strchr("=<>!", cur_[pos_]))
            op.push_back(cur_[pos_++]);
        if (!expr(rhs) || word() != "goto")
            return fail("if EXPR OP EXPR goto LABEL expected");
        int cmp = lhs.is_num && rhs.is_num ? (lhs.num > rhs.num) - (lhs.num < rhs.num)
                                           : lhs.text().compare(rhs.text());
        bool taken = op == "=" || op == "==" ? cmp == 0
                     : op == "<>" || op == "!=" ? cmp != 0
                     : op == "<"                ? cmp < 0
                     : op == ">"                ? cmp > 0
                     : op == "<="               ? cmp <= 0
                     : op == ">="               ? cmp >= 0
                                                : false;
        std::string label = word();
        if (!taken)
            return true;
        kw = "goto";
        cur_ = "goto " + label;
        pos_ = 5;
    }
    if (kw == "goto") {
        std::string label = word();
        auto it = labels_.find(label);
        if (it == labels_.end())
            return fail("unknown label");
        pc_ = it->second;
        return true;
    }
    if (kw == "exit") {
        exit_code_ = static_cast<int>(strtol(word().c_str(), nullptr, 10));
        stop = true;
        return true;
    }
    return fail("unknown statement");
}

int Interpreter::run()
{
    int steps = 0;
    for (pc_ = 0; pc_ < lines_.size(); ++pc_) {
        if (++steps > MAX_STEPS) {
            fputs("gcom: script runs too long\n", stderr);
            return 1;
        }
        cur_ = lines_[pc_];
        pos_ = 0;
        if (at_end() || cur_[pos_] == ':')
            continue;
        bool stop = false;
        if (!statement(stop))
            return 1;
        fflush(stdout);
        if (stop)
            return exit_code_;
    }
    return exit_code_;
}

bool read_script(const std::string& path, std::vector<std::string>& lines)
{
    // A script named by its router path is looked for under the sandbox root
    // first, so test roots need not be reached through absolute paths.
    const char* root = getenv("ROUTER_ROOT");
    FILE* f = nullptr;
    if (root && *root && !path.empty() && path[0] == '/')
        f = fopen((std::string(root) + path).c_str(), "r");
    if (!f)
        f = fopen(path.c_str(), "r");
    if (!f)
        return false;
    char buf[1024];
    while (fgets(buf, sizeof buf, f)) {
        size_t n = strlen(buf);
        while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r'))
            buf[--n] = '\0';
        lines.emplace_back(buf);
    }
    fclose(f);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string device, script;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-d") == 0 && i + 1 < argc)
            device = argv[++i];
        else if (strcmp(argv[i], "-s") == 0 && i + 1 < argc)
            script = argv[++i];
        else if (argv[i][0] != '-')
            script = argv[i];
        // other gcom options (-e echo, -v) do not change what the script does
    }
    if (device.empty() || script.empty()) {
        fputs("usage: gcom -d DEVICE [-s] SCRIPT\n", stderr);
        return 2;
    }
    std::vector<std::string> lines;
    if (!read_script(script, lines)) {
        fprintf(stderr, "gcom: cannot read script %s\n", script.c_str());
        return 2;
    }
    Port port;
    if (!port.open_device(device.c_str())) {
        fprintf(stderr, "gcom: cannot open %s: %s\n", device.c_str(), strerror(errno));
        return 1;
    }
    Interpreter interp(port, lines);
    int rc = interp.run();
    return rc;
}
