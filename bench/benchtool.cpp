// Load generator for the bridge and GPS benchmarks (built by the bench scripts).
//   benchtool bridge SECONDS RATE DIRS TRANSLATE -- PROGRAM ARGS...
//     Makes two pseudo-terminal pairs, starts PROGRAM with "{board}" and
//     "{module}" in ARGS replaced by the slave paths, then offers RATE bytes a
//     second for SECONDS on the board side (DIRS b), the module side (m) or
//     both (bm) and prints what arrived, what was lost and the program's CPU.
//     TRANSLATE 1: the program adds CR after every LF towards the module.
//   benchtool gps LINK RATE SECONDS    GPS receiver on a pty whose slave is linked at LINK
//   benchtool reset-server PORT        accepts and resets every connection
//   benchtool stall-server PORT        accepts and never reads
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

long long now_us()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

long long cpu_ticks(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* f = fopen(path, "r");
    if (!f)
        return -1;
    char buf[1024];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    const char* p = strrchr(buf, ')');
    if (!p)
        return -1;
    long long utime = 0, stime = 0;
    // Fields after the command: state(3) ... utime(14) stime(15).
    int field = 2;
    for (const char* q = p + 1; *q; ++q) {
        if (*q == ' ') {
            ++field;
            if (field == 14)
                utime = atoll(q + 1);
            if (field == 15) {
                stime = atoll(q + 1);
                break;
            }
        }
    }
    return utime + stime;
}

struct Pty {
    int master = -1;
    int slave = -1;
    char name[128] = {};
    bool open_raw()
    {
        termios raw;
        memset(&raw, 0, sizeof raw);
        cfmakeraw(&raw);
        cfsetspeed(&raw, B115200);
        if (openpty(&master, &slave, name, &raw, nullptr) != 0)
            return false;
        fcntl(master, F_SETFL, O_NONBLOCK);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        return true;
    }
};

// One direction: paced writer on one master, checking reader on the other.
struct Flow {
    bool on = false;
    int out_fd = -1; // master written
    int in_fd = -1;  // master read
    bool translate = false;
    long long offered = 0, accepted = 0, refused = 0, received = 0, bad = 0;
    long long last_rx_us = 0;
    bool pending_cr = false; // translated stream: a CR is due next
    long long expect_index = 0;

    static char pattern(long long i) { return (i % 64 == 63) ? '\n' : static_cast<char>('A' + (i / 64) % 26); }

    void offer(long long due)
    {
        char buf[4096];
        while (offered < due) {
            long long n = due - offered;
            if (n > static_cast<long long>(sizeof buf))
                n = sizeof buf;
            for (long long i = 0; i < n; ++i)
                buf[i] = pattern(accepted + i);
            ssize_t w = write(out_fd, buf, static_cast<size_t>(n));
            if (w < 0)
                w = 0;
            accepted += w;
            refused += n - w; // a real UART would have lost these
            offered += n;
            if (w < n)
                break;
        }
    }

    void take(long long t)
    {
        char buf[8192];
        ssize_t n = read(in_fd, buf, sizeof buf);
        if (n <= 0)
            return;
        last_rx_us = t;
        for (ssize_t i = 0; i < n; ++i) {
            if (pending_cr) {
                pending_cr = false;
                if (buf[i] != '\r')
                    ++bad;
                continue;
            }
            char want = pattern(expect_index++);
            if (buf[i] != want)
                ++bad;
            ++received;
            if (translate && want == '\n')
                pending_cr = true;
        }
    }
};

int run_bridge(int argc, char** argv)
{
    if (argc < 7) {
        fprintf(stderr, "usage: benchtool bridge SECONDS RATE DIRS TRANSLATE -- PROGRAM ARGS...\n");
        return 2;
    }
    double seconds = atof(argv[2]);
    double rate = atof(argv[3]);
    std::string dirs = argv[4];
    bool translate = atoi(argv[5]) == 1;
    int first = 7;
    Pty board, module;
    if (!board.open_raw() || !module.open_raw()) {
        perror("openpty");
        return 2;
    }
    std::vector<std::string> args;
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        for (const char* key : {"{board}", "{module}"}) {
            size_t at = a.find(key);
            if (at != std::string::npos)
                a.replace(at, strlen(key), key[1] == 'b' ? board.name : module.name);
        }
        args.push_back(a);
    }
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> cargv;
        for (std::string& a : args)
            cargv.push_back(&a[0]);
        cargv.push_back(nullptr);
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    // Let the program open and set up both ports; drop what start-up left behind.
    usleep(1500000);
    char junk[4096];
    while (read(board.master, junk, sizeof junk) > 0 || read(module.master, junk, sizeof junk) > 0) {
    }

    Flow to_module, to_board;
    to_module.on = dirs.find('b') != std::string::npos;
    to_module.out_fd = board.master;
    to_module.in_fd = module.master;
    to_module.translate = translate;
    to_board.on = dirs.find('m') != std::string::npos;
    to_board.out_fd = module.master;
    to_board.in_fd = board.master;

    long long cpu0 = cpu_ticks(pid);
    long long start = now_us();
    long long end = start + static_cast<long long>(seconds * 1e6);
    // After the last byte offered, wait until nothing has arrived for 2 s.
    for (;;) {
        long long t = now_us();
        if (t < end + 20000) {
            long long due = static_cast<long long>((t < end ? t - start : end - start) * rate / 1e6);
            if (to_module.on)
                to_module.offer(due);
            if (to_board.on)
                to_board.offer(due);
        }
        pollfd fds[2] = {{board.master, POLLIN, 0}, {module.master, POLLIN, 0}};
        poll(fds, 2, 2);
        t = now_us();
        to_module.take(t);
        to_board.take(t);
        if (t >= end) {
            long long last = to_module.last_rx_us > to_board.last_rx_us ? to_module.last_rx_us : to_board.last_rx_us;
            if (last < end)
                last = end;
            if (t - last > 2000000)
                break;
            if (t - end > 30000000)
                break;
        }
    }
    long long cpu1 = cpu_ticks(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);

    double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    double cpu_s = (cpu1 - cpu0) / hz;
    long long moved = 0;
    for (const Flow* f : {&to_module, &to_board}) {
        if (!f->on)
            continue;
        moved += f->received;
        long long first_rx = start;
        double span = (f->last_rx_us > first_rx ? f->last_rx_us - first_rx : 1) / 1e6;
        if (span < seconds)
            span = seconds;
        printf("  %-14s offered %lld B, refused by the tty %lld, delivered %lld (%.1f B/s = %.1f %% of %.0f), "
               "lost %lld, wrong %lld\n",
               f == &to_module ? "board->module" : "module->board", f->offered, f->refused, f->received,
               f->received / span, 100.0 * f->received / (rate * seconds), rate, f->offered - f->received,
               f->bad);
    }
    printf("  CPU %.2f s over %.1f s run, %.2f us per byte delivered\n", cpu_s, seconds,
           moved ? cpu_s * 1e6 / moved : 0.0);
    return 0;
}

int run_gps(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    const char* link = argv[2];
    double rate = atof(argv[3]);
    double seconds = atof(argv[4]);
    Pty gps;
    if (!gps.open_raw())
        return 2;
    unlink(link);
    if (symlink(gps.name, link) != 0) {
        perror("symlink");
        return 2;
    }
    const std::string rmc = "$GPRMC,123519.00,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W*44\r\n";
    std::string text;
    while (text.size() < 65536)
        text += rmc;
    long long start = now_us(), sent = 0, refused = 0;
    long long end = start + static_cast<long long>(seconds * 1e6);
    // Longest stretch in which the line took nothing: the reader was not reading.
    long long last_taken = start, longest_refusal = 0;
    char junk[4096];
    for (long long t = start; t < end; t = now_us()) {
        long long due = static_cast<long long>((t - start) * rate / 1e6);
        while (sent + refused < due) {
            long long n = due - sent - refused;
            if (n > 4096)
                n = 4096;
            size_t at = static_cast<size_t>((sent + refused) % static_cast<long long>(rmc.size()));
            ssize_t w = write(gps.master, text.data() + at, static_cast<size_t>(n));
            if (w <= 0) {
                refused += n;
                break;
            }
            sent += w;
            refused += n - w;
            last_taken = now_us();
        }
        if (now_us() - last_taken > longest_refusal)
            longest_refusal = now_us() - last_taken;
        while (read(gps.master, junk, sizeof junk) > 0) {
        }
        usleep(5000);
    }
    printf("gps fed %lld B, refused by the tty %lld B, longest stretch without a read %.1f s, last read %.1f s "
           "before the end\n",
           sent, refused, longest_refusal / 1e6, (now_us() - last_taken) / 1e6);
    unlink(link);
    return 0;
}

int listen_on(int port, bool small_buffer)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // Inherited by accepted connections: a server that never reads fills up soon.
    int small = 4096;
    if (small_buffer)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
        perror("listen");
        exit(2);
    }
    return fd;
}

int run_server(bool reset, int port)
{
    int fd = listen_on(port, !reset);
    std::vector<int> held;
    long long accepted = 0;
    for (;;) {
        int c = accept(fd, nullptr, nullptr);
        if (c < 0)
            continue;
        ++accepted;
        if (reset) {
            linger l{1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            close(c);
        } else {
            held.push_back(c);
        }
        if (reset) {
            printf("accepted %lld\n", accepted);
            fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    if (argc >= 2 && strcmp(argv[1], "bridge") == 0)
        return run_bridge(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "gps") == 0)
        return run_gps(argc, argv);
    if (argc >= 3 && strcmp(argv[1], "reset-server") == 0)
        return run_server(true, atoi(argv[2]));
    if (argc >= 3 && strcmp(argv[1], "stall-server") == 0)
        return run_server(false, atoi(argv[2]));
    fprintf(stderr, "usage: see the head of benchtool.cpp\n");
    return 2;
}
