// Simulated cellular modem on a pseudo-terminal, and the tool that puts
// received messages into its store.
//
//   modemsim --mode gsm|cdma --device LINK --store DIR [--sent FILE] [--log FILE] [--send-delay MS]
//            [--record FILE] [--vanish-at CMD[:N]] [--vanish-for MS] [--stall-at CMD[:N]] [--stall-for MS]
//   modemsim inject --mode gsm|cdma --store DIR --from NUMBER --text TEXT
//            [--index N] [--ucs2] [--time "YY/MM/DD,hh:mm:ss[+zz]"] [--smsc NUMBER]
//            [--concat REF/TOTAL/SEQ]
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include "modem_session.h"
#include "pdu.h"
#include "store.h"

namespace {

constexpr char DEFAULT_SMSC[] = "+8613800250500";

std::atomic<bool> g_stop{false};

long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

void on_signal(int)
{
    g_stop = true;
}

struct Args {
    std::string mode, device, store, sent, log, from, text, time, index, concat, smsc = DEFAULT_SMSC;
    std::string record, vanish_at, stall_at;
    long send_delay_ms = 0;
    long vanish_for_ms = 1000;
    long stall_for_ms = 1000;
    bool ucs2 = false;
};

int usage()
{
    fputs("usage: modemsim --mode gsm|cdma --device LINK --store DIR [--sent FILE] [--log FILE] [--send-delay MS]\n"
          "                [--record FILE] [--vanish-at CMD[:N]] [--vanish-for MS] [--stall-at CMD[:N]]\n"
          "                [--stall-for MS]\n"
          "       modemsim inject --mode gsm|cdma --store DIR --from NUMBER --text TEXT [--index N] [--ucs2]\n"
          "                [--time \"YY/MM/DD,hh:mm:ss[+zz]\"] [--smsc NUMBER] [--concat REF/TOTAL/SEQ]\n",
          stderr);
    return 2;
}

bool parse_args(int argc, char** argv, int first, Args& a)
{
    for (int i = first; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--ucs2") {
            a.ucs2 = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        std::string val = argv[++i];
        if (opt == "--mode")
            a.mode = val;
        else if (opt == "--device")
            a.device = val;
        else if (opt == "--store")
            a.store = val;
        else if (opt == "--sent")
            a.sent = val;
        else if (opt == "--log")
            a.log = val;
        else if (opt == "--from")
            a.from = val;
        else if (opt == "--text")
            a.text = val;
        else if (opt == "--time")
            a.time = val;
        else if (opt == "--index")
            a.index = val;
        else if (opt == "--send-delay")
            a.send_delay_ms = strtol(val.c_str(), nullptr, 10);
        else if (opt == "--record")
            a.record = val;
        else if (opt == "--vanish-at")
            a.vanish_at = val;
        else if (opt == "--vanish-for")
            a.vanish_for_ms = strtol(val.c_str(), nullptr, 10);
        else if (opt == "--stall-at")
            a.stall_at = val;
        else if (opt == "--stall-for")
            a.stall_for_ms = strtol(val.c_str(), nullptr, 10);
        else if (opt == "--concat")
            a.concat = val;
        else if (opt == "--smsc")
            a.smsc = val;
        else
            return false;
    }
    return a.mode == "gsm" || a.mode == "cdma";
}

int inject_main(const Args& a)
{
    if (a.store.empty() || a.from.empty())
        return usage();
    DeliverRequest req;
    req.from = a.from;
    req.text = a.text;
    req.ucs2 = a.ucs2;
    req.smsc = a.smsc;
    req.time = sms_time_now();
    if (!a.time.empty() && !parse_sms_time(a.time, req.time)) {
        fprintf(stderr, "modemsim inject: bad --time %s\n", a.time.c_str());
        return 2;
    }
    mkdir(a.store.c_str(), 0755); // may exist already
    if (!a.concat.empty() && !parse_concat(a.concat, req)) {
        fprintf(stderr, "modemsim inject: bad --concat %s (REF/TOTAL/SEQ)\n", a.concat.c_str());
        return 2;
    }
    int index;
    if (!a.index.empty()) {
        char* end;
        long v = strtol(a.index.c_str(), &end, 10);
        if (*end || v < 0 || v >= STORE_SLOTS) {
            fprintf(stderr, "modemsim inject: bad --index %s\n", a.index.c_str());
            return 2;
        }
        index = static_cast<int>(v);
        if (access((a.store + "/" + a.index).c_str(), F_OK) == 0) {
            fprintf(stderr, "modemsim inject: slot %d is occupied\n", index);
            return 1;
        }
    } else {
        // The host's inbox scan starts at index 0.
        index = store_lowest_free(a.store, 0);
        if (index < 0) {
            fputs("modemsim inject: store full\n", stderr);
            return 1;
        }
    }
    req.msg_id = static_cast<unsigned>(index + 1);
    std::string hex, err;
    bool ok = a.mode == "gsm" ? build_gsm_deliver(req, hex, err) : build_cdma_deliver(req, hex, err);
    if (!ok) {
        fprintf(stderr, "modemsim inject: %s\n", err.c_str());
        return 2;
    }
    if (!store_write(a.store, index, hex)) {
        fprintf(stderr, "modemsim inject: cannot write slot %d in %s\n", index, a.store.c_str());
        return 1;
    }
    printf("%d\n", index);
    return 0;
}

// Traffic log: one line per chunk and direction, bytes outside printable
// ASCII escaped.
void log_traffic(FILE* log, const char* dir, const char* data, size_t n)
{
    if (!log || n == 0)
        return;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    fprintf(log, "%02d:%02d:%02d.%03ld %s ", tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long>(tv.tv_usec / 1000),
            dir);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '\r')
            fputs("\\r", log);
        else if (c == '\n')
            fputs("\\n", log);
        else if (c == '\\')
            fputs("\\\\", log);
        else if (c < 0x20 || c >= 0x7F)
            fprintf(log, "\\x%02X", c);
        else
            fputc(c, log);
    }
    fputc('\n', log);
    fflush(log);
}

// CMD[:N] of --vanish-at and --stall-at: the command in upper case, N into nth.
std::string command_trigger(std::string value, int& nth)
{
    size_t colon = value.rfind(':');
    if (colon != std::string::npos) {
        nth = atoi(value.c_str() + colon + 1);
        value.resize(colon);
    }
    for (char& c : value)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return value;
}

void log_note(FILE* log, const char* note)
{
    log_traffic(log, "--", note, strlen(note));
}

void write_all(int fd, const std::string& out)
{
    size_t done = 0;
    int waits = 0;
    while (done < out.size()) {
        ssize_t w = write(fd, out.data() + done, out.size() - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
        } else if (w < 0 && errno == EAGAIN && ++waits < 100) {
            // Nobody drains the line: wait a little, then drop the rest like a
            // UART overrun rather than hang.
            usleep(10000);
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else {
            fprintf(stderr, "modemsim: dropped %zu bytes of output\n", out.size() - done);
            return;
        }
    }
}

// The pty of the modem and the link hosts open.
struct Line {
    int master = -1;
    int slave = -1;
    std::string slave_name;
};

bool open_line(const std::string& device, Line& line)
{
    line.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (line.master < 0 || grantpt(line.master) != 0 || unlockpt(line.master) != 0) {
        perror("modemsim: posix_openpt");
        return false;
    }
    line.slave_name = ptsname(line.master);
    // Held open for the whole run: the master then never sees a hang-up while
    // hosts open and close the line in turns, and the raw settings stay.
    line.slave = open(line.slave_name.c_str(), O_RDWR | O_NOCTTY);
    if (line.slave < 0) {
        perror("modemsim: open slave");
        return false;
    }
    struct termios tio;
    tcgetattr(line.slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(line.slave, TCSANOW, &tio);
    fcntl(line.master, F_SETFL, fcntl(line.master, F_GETFL) | O_NONBLOCK);

    char target[256];
    if (readlink(device.c_str(), target, sizeof target - 1) >= 0)
        unlink(device.c_str()); // a stale link from an earlier run
    if (symlink(line.slave_name.c_str(), device.c_str()) != 0) {
        fprintf(stderr, "modemsim: cannot create link %s: %s\n", device.c_str(), strerror(errno));
        return false;
    }
    return true;
}

// Removes the link (if it is still ours) and closes the pty: hosts that hold
// the line open get errors from then on.
void close_line(const std::string& device, Line& line)
{
    char target[256];
    ssize_t tl = readlink(device.c_str(), target, sizeof target - 1);
    if (tl >= 0) {
        target[tl] = '\0';
        if (line.slave_name == target)
            unlink(device.c_str());
    }
    if (line.slave >= 0)
        close(line.slave);
    if (line.master >= 0)
        close(line.master);
    line = Line();
}

int serve_main(const Args& a)
{
    if (a.device.empty() || a.store.empty())
        return usage();
    mkdir(a.store.c_str(), 0755); // may exist already
    ModemOptions opt;
    opt.mode = a.mode == "gsm" ? ModemMode::Gsm : ModemMode::Cdma;
    opt.store = a.store;
    opt.sent_file = a.sent.empty() ? a.store + "/sent.log" : a.sent;
    opt.hold_send_result = a.send_delay_ms > 0;

    Line line;
    if (!open_line(a.device, line))
        return 1;
    FILE* log = a.log.empty() ? nullptr : fopen(a.log.c_str(), "a");

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    printf("modemsim: %s modem on %s -> %s\n", a.mode.c_str(), a.device.c_str(), line.slave_name.c_str());
    fflush(stdout);

    // Opens and closes of the line by hosts: when the last one closes, what
    // it left unread is dropped, as a serial port loses it on its final close.
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    int watched = watch >= 0 ? inotify_add_watch(watch, line.slave_name.c_str(), IN_OPEN | IN_CLOSE) : -1;
    int openers = 0;

    opt.record_file = a.record;
    opt.vanish_at = command_trigger(a.vanish_at, opt.vanish_nth);
    opt.stall_at = command_trigger(a.stall_at, opt.stall_nth);
    ModemSession session(opt);
    long long stall_ends = 0;
    char buf[512];
    // A submission's result waiting for its network delay.
    std::string held;
    long long held_due = 0;
    while (!g_stop) {
        int wait_ms = 200;
        if (!held.empty()) {
            long long left = held_due - now_ms();
            if (left <= 0) {
                log_traffic(log, ">>", held.data(), held.size());
                write_all(line.master, held);
                held.clear();
            } else if (left < wait_ms) {
                wait_ms = static_cast<int>(left);
            }
        }
        if (session.stalled()) {
            long long left = stall_ends - now_ms();
            if (left <= 0) {
                log_note(log, "modem resumes");
                std::string out = session.resume();
                log_traffic(log, ">>", out.data(), out.size());
                write_all(line.master, out);
                std::string result = session.take_send_result();
                if (!result.empty()) {
                    held = result;
                    held_due = now_ms() + a.send_delay_ms;
                }
            } else if (left < wait_ms) {
                wait_ms = static_cast<int>(left);
            }
        }
        struct pollfd pfd[2] = {{line.master, POLLIN, 0}, {watch, POLLIN, 0}};
        if (poll(pfd, watched >= 0 ? 2 : 1, wait_ms) <= 0)
            continue;
        if (watch >= 0 && (pfd[1].revents & POLLIN)) {
            alignas(struct inotify_event) char events[1024];
            ssize_t len = read(watch, events, sizeof events);
            for (ssize_t off = 0; len > 0 && off < len;) {
                const struct inotify_event* ev = reinterpret_cast<const struct inotify_event*>(events + off);
                if (ev->mask & IN_OPEN) {
                    ++openers;
                    log_note(log, "line opened");
                }
                if ((ev->mask & IN_CLOSE) && openers > 0 && --openers == 0) {
                    tcflush(line.slave, TCIFLUSH);
                    log_note(log, "line closed by its last host, unread output dropped");
                }
                off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
            }
        }
        if (!(pfd[0].revents & POLLIN))
            continue;
        ssize_t n = read(line.master, buf, sizeof buf);
        if (n <= 0) {
            usleep(10000);
            continue;
        }
        log_traffic(log, "<<", buf, static_cast<size_t>(n));
        if (session.stalled()) {
            session.hold(buf, static_cast<size_t>(n));
            continue;
        }
        std::string out = session.feed(buf, static_cast<size_t>(n));
        if (!out.empty()) {
            log_traffic(log, ">>", out.data(), out.size());
            write_all(line.master, out);
        }
        if (session.take_stall()) {
            // Busy or wedged, as USB sticks are under load: the line stays,
            // nothing is answered, and what arrives is kept for later.
            log_note(log, "modem stalls");
            stall_ends = now_ms() + a.stall_for_ms;
        }
        if (session.take_vanish()) {
            // Pulled from the bus: the hosts' descriptors die, the node goes,
            // and a new one appears when the modem is back.
            log_note(log, "modem vanished");
            if (watched >= 0)
                inotify_rm_watch(watch, watched);
            close_line(a.device, line);
            held.clear();
            for (long long back = now_ms() + a.vanish_for_ms; !g_stop && now_ms() < back;)
                usleep(20000);
            if (g_stop || !open_line(a.device, line))
                break;
            watched = watch >= 0 ? inotify_add_watch(watch, line.slave_name.c_str(), IN_OPEN | IN_CLOSE) : -1;
            openers = 0;
            session.power_on();
            log_note(log, "modem is back");
            continue;
        }
        std::string result = session.take_send_result();
        if (!result.empty()) {
            held = result;
            held_due = now_ms() + a.send_delay_ms;
        }
    }
    if (watch >= 0)
        close(watch);

    if (log)
        fclose(log);
    close_line(a.device, line);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Args a;
    bool inject = argc > 1 && strcmp(argv[1], "inject") == 0;
    if (!parse_args(argc, argv, inject ? 2 : 1, a))
        return usage();
    return inject ? inject_main(a) : serve_main(a);
}
