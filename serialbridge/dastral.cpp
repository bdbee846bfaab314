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

#include "config.h"
#include "log.h"
#include "pidfile.h"
#include "paths.h"
#include "serial.h"
#include "status.h"
#include "unique_fd.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "dastral.cpp";

namespace {

// Board port path given on the command line, terminator included.
constexpr int PORT_PATH_SIZE = 32;
// UCI value the parity letter is taken from.
constexpr int PARITY_TEXT_SIZE = 64;
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

struct BridgeConfig {
    char parity;
    int baudrate;
    int databits;
    int stopbits;
    int enabled;
    int debug;
    int output;
};

// The capture file, held open between blocks, and its size so far.
struct Capture {
    UniqueFd fd;
    off_t size = 0;
};

// Everything the process keeps while bridging.
struct Bridge {
    BridgeConfig config;
    char board_path[PORT_PATH_SIZE];
    int board_fd = -1;
    int module_fd = -1;
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

int load_bridge_config(BridgeConfig* config)
{
    get_data_int("dastral.general.enabled", &config->enabled);
    get_data_int("dastral.general.debug", &config->debug);
    get_data_int("dastral.general.output", &config->output);
    get_data_int("dastral.general.baudrate", &config->baudrate);
    char parity[PARITY_TEXT_SIZE] = {};
    get_data_str("dastral.general.parity", parity, PARITY_TEXT_SIZE);
    if (parity[0])
        config->parity = parity[0];
    get_data_int("dastral.general.databits", &config->databits);
    get_data_int("dastral.general.stopbits", &config->stopbits);
    return 0;
}

void write_pid_file(const char* path)
{
    if (!pidfile_write(path))
        log_print(LOG_ERROR, "[%s %d] Error： Cannot create PID file: %s.", LOG_UNIT, __LINE__, path);
}

// Writes the whole block (a tty may take part of it); false on an error.
bool write_all(int fd, const char* data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

int open_module_port(const char* path)
{
    for (int attempt = 0; attempt < MODULE_OPEN_ATTEMPTS; ++attempt) {
        int fd = open_port(path);
        if (fd != -1) {
            if (setup_port(fd, 115200, 8, 'N', 1, 1) == -1)
                log_print(LOG_ERROR, "[%s %d] Error： setup_port error", LOG_UNIT, __LINE__);
            return fd;
        }
        log_print(LOG_ERROR, "[%s %d] Error： open device %s error\n", LOG_UNIT, __LINE__, path);
        sleep(MODULE_OPEN_PAUSE_S);
    }
    return -1;
}

// Appends to the capture file, kept open between blocks; at the logger's
// rotation size it moves to CAPTURE_ROTATED, so RAM holds at most two files.
void append_capture(const char* data, size_t len)
{
    Capture& capture = bridge.capture;
    if (!capture.fd.valid()) {
        capture.fd.reset(open(RootedPath(CAPTURE_FILE).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (!capture.fd.valid())
            return;
        struct stat st;
        capture.size = fstat(capture.fd.get(), &st) == 0 ? st.st_size : 0;
    }
    if (!write_all(capture.fd.get(), data, len))
        return;
    capture.size += static_cast<off_t>(len);
    if (capture.size < CAPTURE_ROTATE_SIZE)
        return;
    capture.fd.reset();
    RootedPath current(CAPTURE_FILE);
    RootedPath rotated(CAPTURE_ROTATED);
    if (rename(current.c_str(), rotated.c_str()) != 0) {
        unlink(rotated.c_str());
        rename(current.c_str(), rotated.c_str());
    }
}

// Board to module in one write per block; the module wants CR after every LF.
void board_to_module()
{
    log_print(LOG_DEBUG, "[%s %d] Debug： trying to read from serial port", LOG_UNIT, __LINE__);
    ssize_t n = read(bridge.board_fd, bridge.buffer, TRANSFER_SIZE);
    if (n <= 0) {
        bridge.idle = true;
        return;
    }
    bridge.buffer[n] = 0;
    log_print(LOG_DEBUG, "[%s %d] Debug： serial port read byte %d, content:%s", LOG_UNIT, __LINE__,
              static_cast<int>(n), bridge.buffer);
    size_t out = 0;
    for (ssize_t i = 0; i < n; ++i) {
        char byte = bridge.buffer[i];
        bridge.translated[out++] = byte;
        log_print(LOG_DEBUG, "[%s %d] Debug： send byte %02x", LOG_UNIT, __LINE__, static_cast<int>(byte));
        if (byte == '\n')
            bridge.translated[out++] = '\r';
    }
    write_all(bridge.module_fd, bridge.translated, out);
    append_capture(bridge.buffer, static_cast<size_t>(n));
    bridge.to_module += static_cast<unsigned long long>(n);
    bridge.last_activity = time(nullptr);
}

// Module to board, unchanged.
void module_to_board()
{
    ssize_t n = read(bridge.module_fd, bridge.buffer, TRANSFER_SIZE);
    if (n <= 0) {
        bridge.idle = true;
        return;
    }
    log_print(LOG_DEBUG, "[%s %d] Debug： radio module port read byte %d", LOG_UNIT, __LINE__, static_cast<int>(n));
    write_all(bridge.board_fd, bridge.buffer, static_cast<size_t>(n));
    bridge.to_board += static_cast<unsigned long long>(n);
    bridge.last_activity = time(nullptr);
}

// Waits on both ports at once and moves whatever arrived straight away.
[[noreturn]] void run_bridge()
{
    for (;;) {
        bridge_status_publish(
            {bridge.board_path, bridge.module_path, bridge.to_module, bridge.to_board, bridge.last_activity});
        pollfd ports[2] = {{bridge.board_fd, POLLIN, 0}, {bridge.module_fd, POLLIN, 0}};
        int ready = poll(ports, 2, WAIT_TIMEOUT_MS);
        if (ready < 0 && errno != EINTR)
            bridge.idle = true;
        if (ready > 0) {
            if (ports[0].revents)
                board_to_module();
            if (ports[1].revents)
                module_to_board();
        }
        // A port that reports readable but gives nothing (a hung-up line, an
        // error) would spin the loop; pause as the old cycle did.
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
        log_print(LOG_ERROR, "[%s %d] Error： serialport error", LOG_UNIT, __LINE__);
    } else {
        const char* name = ttyname(bridge.board_fd);
        log_print(LOG_DEBUG, "[%s %d] Debug： open %s succesfully", LOG_UNIT, __LINE__, name ? name : path);
    }
    if (fcntl(bridge.board_fd, F_SETFL, 0) < 0)
        log_print(LOG_ERROR, "[%s %d] Error： fcntl error", LOG_UNIT, __LINE__);
    if (!isatty(STDIN_FILENO))
        log_print(LOG_WARNING, "[%s %d] Warning： Standard input is not a terminal device.", LOG_UNIT, __LINE__);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        log_print(LOG_ERROR, "[%s %d] Error： dastral parameter error ", LOG_UNIT, __LINE__);
        return -1;
    }
    const char* module_path = argv[1];
    bridge.module_path = module_path;
    snprintf(bridge.board_path, sizeof bridge.board_path, "%s", argc == 4 ? argv[3] : DEFAULT_BOARD_PORT);
    write_pid_file(argv[2]);

    memset(&bridge.config, 0, sizeof bridge.config);
    load_bridge_config(&bridge.config);
    const BridgeConfig& config = bridge.config;
    log_print(LOG_DEBUG, "[%s %d] Debug： debug level=%d, output=%d", LOG_UNIT, __LINE__, config.debug, config.output);
    log_set_level(config.debug);
    log_set_output(config.output);

    open_board_port(argc != 4);
    if (setup_port(bridge.board_fd, config.baudrate, config.databits, config.parity, config.stopbits, 1) < 0) {
        log_print(LOG_ERROR, "[%s %d] Error： Set serial port Error", LOG_UNIT, __LINE__);
        if (bridge.board_fd >= 0)
            close(bridge.board_fd);
        return 0;
    }
    bridge.module_fd = open_module_port(module_path);
    if (bridge.module_fd == -1) {
        close(bridge.board_fd);
        log_print(LOG_ERROR, "[%s %d] Error： finished", LOG_UNIT, __LINE__);
        return 0;
    }
    log_print(LOG_DEBUG, "[%s %d] Debug： start module serial loop", LOG_UNIT, __LINE__);

    run_bridge();
}
