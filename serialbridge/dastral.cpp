// dastral: joins the board's serial port and the radio module's serial port.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bridge_config.h"
#include "files.h"
#include "log.h"
#include "monotonic.h"
#include "own_file.h"
#include "paths.h"
#include "pidfile.h"
#include "port_watch.h"
#include "serial.h"
#include "status.h"
#include "time64.h"
#include "unique_fd.h"

constexpr char LOG_UNIT[] = "dastral.cpp";

namespace {

// Board port path given on the command line, terminator included.
constexpr int PORT_PATH_SIZE = 32;
// One read from either port (the terminator comes on top): a tty hands over
// at most 4096 bytes at a time.
constexpr int TRANSFER_SIZE = 4096;
// Opening the module port: attempts and pause between them.
constexpr int MODULE_OPEN_ATTEMPTS = 101;
constexpr unsigned MODULE_OPEN_PAUSE_S = 3;
// Longest wait for either port; nothing is due on expiry, it only bounds the wait.
constexpr int WAIT_TIMEOUT_MS = 1000;
// Pause after a read that failed on a port reported readable.
constexpr useconds_t ERROR_PAUSE_US = 100000;
constexpr char DEFAULT_BOARD_PORT[] = "/dev/ttyS0";
constexpr char CAPTURE_FILE[] = "/tmp/qv.log";
constexpr char CAPTURE_ROTATED[] = "/tmp/qv.log2";
// The capture file rotates at the logger's size, so tmpfs holds at most two.
constexpr off_t CAPTURE_ROTATE_SIZE = 200001;
// How often the capture's name is checked to still hold the file we write.
constexpr long long CAPTURE_CHECK_MS = 1000;

// The capture file, held open between blocks, and its size so far.
struct Capture {
    UniqueFd fd;
    off_t size = 0;
    // Latest look at whether the name still holds our file.
    long long checked_ms = 0;
    // Set once a refusal to open it is logged, until it opens again.
    bool refused = false;
};

// Everything the process keeps while bridging.
struct Bridge {
    BridgeConfig config;
    char board_path[PORT_PATH_SIZE];
    int board_fd = -1;
    int module_fd = -1;
    // The names both ports were opened by, to reopen them when they come back.
    PortWatch board_watch;
    PortWatch module_watch;
    // Latest look at both ports' nodes while data flowed.
    long long checked_ms = 0;
    char buffer[TRANSFER_SIZE + 1];
    // A board block with a CR after each LF: at most twice the block.
    char translated[2 * TRANSFER_SIZE];
    Capture capture;
    // Set when a port was readable but the read failed.
    bool idle = false;
    // For the status file.
    const char* module_path = "";
    unsigned long long to_module = 0;
    unsigned long long to_board = 0;
    time_t last_activity = 0;
};

Bridge bridge;

// The module line is fixed; a set-up failure is logged and the port used all the same.
bool setup_module_port(int fd)
{
    if (setup_port(fd, 115200, 8, 'N', 1, 1) == -1)
        LOG(LOG_ERROR, "Error： setup_port error");
    return true;
}

bool setup_board_port(int fd)
{
    const BridgeConfig& c = bridge.config;
    return setup_port(fd, c.baudrate, c.databits, c.parity, c.stopbits, 1) == 0;
}

int open_module_port(const char* path)
{
    for (int attempt = 0; attempt < MODULE_OPEN_ATTEMPTS; ++attempt) {
        int fd = open_port(path);
        if (fd != -1) {
            setup_module_port(fd);
            port_watch_start(&bridge.module_watch, path, fd);
            return fd;
        }
        LOG(LOG_ERROR, "Error： open device %s error\n", path);
        sleep(MODULE_OPEN_PAUSE_S);
    }
    return -1;
}

// Opens the capture file for appending. Other programs share /tmp and we run
// as root: a link, a FIFO or any file not ours alone at the name is refused,
// never written through. Null text on success, else why.
const char* open_capture(const char* path)
{
    Capture& capture = bridge.capture;
    capture.fd.reset(open_own(path, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK));
    if (!capture.fd.valid())
        return strerror(errno);
    struct stat st;
    if (fstat(capture.fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid()) {
        capture.fd.reset();
        return "not a file of our own";
    }
    capture.size = st.st_size;
    return nullptr;
}

// True while the capture's name still holds the file we write, checked once
// a second: a file removed or replaced under us is opened anew.
bool capture_still_named(const char* path)
{
    Capture& capture = bridge.capture;
    long long now = monotonic_ms();
    if (now - capture.checked_ms < CAPTURE_CHECK_MS)
        return true;
    capture.checked_ms = now;
    struct stat named, held;
    return lstat(path, &named) == 0 && fstat(capture.fd.get(), &held) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
}

// Appends to the capture file, kept open between blocks; at the logger's
// rotation size it moves to CAPTURE_ROTATED, so RAM holds at most two files.
void append_capture(const char* data, size_t len)
{
    Capture& capture = bridge.capture;
    RootedPath current(CAPTURE_FILE);
    if (capture.fd.valid() && !capture_still_named(current.c_str()))
        capture.fd.reset();
    if (!capture.fd.valid()) {
        const char* why = open_capture(current.c_str());
        if (why) {
            if (!capture.refused)
                LOG(LOG_ERROR, "Error： capture file %s not written: %s", CAPTURE_FILE, why);
            capture.refused = true;
            return;
        }
        capture.refused = false;
    }
    if (!write_all(capture.fd.get(), data, len))
        return;
    capture.size += static_cast<off_t>(len);
    if (capture.size < CAPTURE_ROTATE_SIZE)
        return;
    capture.fd.reset();
    // rename moves a name, never writes through a link standing at either end.
    RootedPath rotated(CAPTURE_ROTATED);
    if (rename(current.c_str(), rotated.c_str()) != 0) {
        unlink(rotated.c_str());
        rename(current.c_str(), rotated.c_str());
    }
}

// One end of the bridge.
struct Side {
    int* fd;
    PortWatch* watch;
    const char* role;
    bool (*setup)(int fd);
};

Side board_side() { return {&bridge.board_fd, &bridge.board_watch, "board port", setup_board_port}; }
Side module_side() { return {&bridge.module_fd, &bridge.module_watch, "module port", setup_module_port}; }

// Closes a port that hung up or vanished, logging the outage once.
void lose(const Side& side, const char* why)
{
    LOG(LOG_ERROR, "Error： %s %s lost (%s), reopening it every second", side.role, side.watch->path, why);
    port_lost(side.watch, side.fd);
}

// After a failed read or write (err its errno, 0 for none): false when the port is gone.
bool still_there(const Side& side, int err)
{
    if (const char* why = port_gone(side.watch, *side.fd, err)) {
        lose(side, why);
        return false;
    }
    return true;
}

// A lost port is opened again by its name, once a second.
void reopen(const Side& side)
{
    if (*side.fd >= 0)
        return;
    int fd = port_reopen(side.watch, side.setup);
    if (fd < 0)
        return;
    *side.fd = fd;
    LOG(LOG_INFO, "Info： %s %s back after %ld s", side.role, side.watch->path, port_outage_s(*side.watch));
}

// Board to module in one write per block; the module wants CR after every LF.
void board_to_module()
{
    LOG(LOG_DEBUG, "Debug： trying to read from serial port");
    ssize_t n = read(bridge.board_fd, bridge.buffer, TRANSFER_SIZE);
    if (n <= 0) {
        if (still_there(board_side(), n < 0 ? errno : 0))
            bridge.idle = true;
        return;
    }
    bridge.buffer[n] = 0;
    LOG(LOG_DEBUG, "Debug： serial port read byte %d, content:%s", static_cast<int>(n), bridge.buffer);
    size_t out = 0;
    for (ssize_t i = 0; i < n; ++i) {
        char byte = bridge.buffer[i];
        bridge.translated[out++] = byte;
        LOG(LOG_DEBUG, "Debug： send byte %02x", static_cast<int>(byte));
        if (byte == '\n')
            bridge.translated[out++] = '\r';
    }
    if (!write_all(bridge.module_fd, bridge.translated, out))
        still_there(module_side(), errno);
    append_capture(bridge.buffer, static_cast<size_t>(n));
    bridge.to_module += static_cast<unsigned long long>(n);
    bridge.last_activity = time(nullptr);
}

// Module to board, unchanged.
void module_to_board()
{
    ssize_t n = read(bridge.module_fd, bridge.buffer, TRANSFER_SIZE);
    if (n <= 0) {
        if (still_there(module_side(), n < 0 ? errno : 0))
            bridge.idle = true;
        return;
    }
    LOG(LOG_DEBUG, "Debug： radio module port read byte %d", static_cast<int>(n));
    if (!write_all(bridge.board_fd, bridge.buffer, static_cast<size_t>(n)))
        still_there(board_side(), errno);
    bridge.to_board += static_cast<unsigned long long>(n);
    bridge.last_activity = time(nullptr);
}

// Waits on both ports at once and moves whatever arrived straight away. While
// one port is away the other is not read: what it sends waits in its driver
// until the lost port is back.
[[noreturn]] void run_bridge()
{
    const Side sides[2] = {board_side(), module_side()};
    for (;;) {
        for (const Side& side : sides)
            reopen(side);
        bridge_status_publish(
            {bridge.board_path, bridge.module_path, bridge.to_module, bridge.to_board, bridge.last_activity});
        const short wanted = bridge.board_fd >= 0 && bridge.module_fd >= 0 ? POLLIN : 0;
        // A negative descriptor is skipped by poll; hang-ups show without POLLIN.
        pollfd ports[2] = {{bridge.board_fd, wanted, 0}, {bridge.module_fd, wanted, 0}};
        int ready = poll(ports, 2, WAIT_TIMEOUT_MS);
        if (ready < 0 && errno != EINTR)
            bridge.idle = true;
        if (ready > 0) {
            if (ports[0].revents)
                board_to_module();
            if (ports[1].revents && bridge.module_fd >= 0)
                module_to_board();
        }
        // A quiet line shows no error: look at the nodes behind the names too.
        long long now = monotonic_ms();
        if (ready == 0 || now - bridge.checked_ms >= PORT_RETRY_MS) {
            bridge.checked_ms = now;
            for (const Side& side : sides)
                if (*side.fd >= 0)
                    still_there(side, 0);
        }
        // A port that reports readable but gives nothing (an error) would
        // spin the loop; pause as the old cycle did.
        if (bridge.idle) {
            bridge.idle = false;
            usleep(ERROR_PAUSE_US);
        }
    }
}

void open_board_port(bool default_path)
{
    const char* path = bridge.board_path;
    RootedPath rooted(bridge.board_path);
    if (default_path)
        path = rooted.c_str();
    // O_NOCTTY: the board port must never become our controlling terminal,
    // or its hang-up would end the bridge with SIGHUP.
    bridge.board_fd = open(path, O_RDWR | O_NOCTTY);
    if (bridge.board_fd < 0) {
        LOG(LOG_ERROR, "Error： serialport error");
    } else {
        const char* name = ttyname(bridge.board_fd);
        LOG(LOG_DEBUG, "Debug： open %s succesfully", name ? name : path);
        port_watch_start(&bridge.board_watch, path, bridge.board_fd);
    }
    if (fcntl(bridge.board_fd, F_SETFL, 0) < 0)
        LOG(LOG_ERROR, "Error： fcntl error");
    if (!isatty(STDIN_FILENO))
        LOG(LOG_WARNING, "Warning： Standard input is not a terminal device.");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        LOG(LOG_ERROR, "Error： dastral parameter error ");
        return -1;
    }
    const char* module_path = argv[1];
    bridge.module_path = module_path;
    snprintf(bridge.board_path, sizeof bridge.board_path, "%s", argc == 4 ? argv[3] : DEFAULT_BOARD_PORT);
    if (!pidfile_write(argv[2]))
        LOG(LOG_ERROR, "Error： Cannot create PID file: %s.", argv[2]);

    memset(&bridge.config, 0, sizeof bridge.config);
    // The Error lines name what is refused; running on would only fail later.
    if (load_bridge_config(&bridge.config) > 0) {
        unlink(argv[2]);
        return EXIT_BAD_OPTION;
    }
    const BridgeConfig& config = bridge.config;
    LOG(LOG_DEBUG, "Debug： debug level=%d, output=%d", config.debug, config.output);
    log_set_level(config.debug);
    log_set_output(config.output);

    open_board_port(argc != 4);
    if (setup_port(bridge.board_fd, config.baudrate, config.databits, config.parity, config.stopbits, 1) < 0) {
        LOG(LOG_ERROR, "Error： Set serial port Error");
        if (bridge.board_fd >= 0)
            close(bridge.board_fd);
        return 0;
    }
    bridge.module_fd = open_module_port(module_path);
    if (bridge.module_fd == -1) {
        close(bridge.board_fd);
        LOG(LOG_ERROR, "Error： finished");
        return 0;
    }
    LOG(LOG_DEBUG, "Debug： start module serial loop");

    run_bridge();
}
