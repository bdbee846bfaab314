// Pseudo-terminal GPS receiver: replays an NMEA log one epoch at a time.
// Usage: nmea_feeder LINK FILE [PERIOD_MS [ROUNDS]]
// LINK becomes a symlink to the slave side, which a daemon opens as its GPS
// device. Each epoch (the lines from one "$GPGGA" to the next) is written with
// one write every PERIOD_MS (default 1000); ROUNDS passes over the file
// (default 0: for ever). The feeder then stays, holding the line open, until
// it is killed. Each write is noted on stdout as "<epoch> <CLOCK_MONOTONIC ns>".
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> read_epochs(const char* file)
{
    std::vector<std::string> epochs;
    FILE* f = fopen(file, "rb");
    if (!f)
        return epochs;
    char line[1024];
    while (fgets(line, sizeof line, f)) {
        if (epochs.empty() || strncmp(line, "$GPGGA", 6) == 0)
            epochs.emplace_back();
        epochs.back() += line;
    }
    fclose(f);
    return epochs;
}

long long monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s LINK FILE [PERIOD_MS [ROUNDS]]\n", argv[0]);
        return 2;
    }
    const char* link_path = argv[1];
    std::vector<std::string> epochs = read_epochs(argv[2]);
    long period_ms = argc > 3 ? atol(argv[3]) : 1000;
    long rounds = argc > 4 ? atol(argv[4]) : 0;
    if (epochs.empty()) {
        fprintf(stderr, "nmea_feeder: no NMEA in %s\n", argv[2]);
        return 1;
    }
    int master = -1;
    int slave = -1;
    char name[128];
    termios raw;
    memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        perror("openpty");
        return 1;
    }
    unlink(link_path);
    if (symlink(name, link_path) != 0) {
        perror("symlink");
        return 1;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // Keeping our slave handle open spares the reader a hang-up between its opens.
    long epoch = 0;
    for (long round = 0; rounds == 0 || round < rounds; ++round) {
        for (const std::string& text : epochs) {
            usleep(static_cast<useconds_t>(period_ms * 1000));
            if (write(master, text.data(), text.size()) < 0)
                perror("write");
            printf("%ld %lld\n", epoch++, monotonic_ns());
        }
    }
    for (;;)
        pause();
}
