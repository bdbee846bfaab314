// dastral: joins the board's serial port and the radio module's serial port.
#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config.h"
#include "log.h"
#include "pidfile.h"
#include "paths.h"
#include "serial.h"

namespace {

// Board port path given on the command line, terminator included.
constexpr int PORT_PATH_SIZE = 32;
// UCI value the parity letter is taken from.
constexpr int PARITY_TEXT_SIZE = 64;
// One read from either port (the terminator comes on top).
constexpr int TRANSFER_SIZE = 512;
// Opening the module port: attempts and pause between them.
constexpr int MODULE_OPEN_ATTEMPTS = 101;
constexpr unsigned MODULE_OPEN_PAUSE_S = 3;
// Fixed pause at the end of every bridge cycle.
constexpr useconds_t CYCLE_PAUSE_US = 100000;
constexpr char DEFAULT_BOARD_PORT[] = "/dev/ttyS0";
constexpr char CAPTURE_FILE[] = "/tmp/qv.log";

struct BridgeConfig {
    char parity;
    int baudrate;
    int databits;
    int stopbits;
    int enabled;
    int debug;
    int output;
};

// Everything the process keeps while bridging.
struct Bridge {
    BridgeConfig config;
    char board_path[PORT_PATH_SIZE];
    int board_fd = -1;
    int module_fd = -1;
    char buffer[TRANSFER_SIZE + 1];
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
        log_print(LOG_ERROR, "[%s %d] Error： Cannot create PID file: %s.", LOG_SRC, __LINE__, path);
}

int open_module_port(const char* path)
{
    for (int attempt = 0; attempt < MODULE_OPEN_ATTEMPTS; ++attempt) {
        int fd = open_port(path);
        if (fd != -1) {
            if (setup_port(fd, 115200, 8, 'N', 1, 1) == -1)
                log_print(LOG_ERROR, "[%s %d] Error： setup_port error", LOG_SRC, __LINE__);
            return fd;
        }
        log_print(LOG_ERROR, "[%s %d] Error： open device %s error\n", LOG_SRC, __LINE__, path);
        sleep(MODULE_OPEN_PAUSE_S);
    }
    return -1;
}

// Every byte read from the board goes to the capture file, zero bytes included.
void append_capture(const char* data, size_t len)
{
    FILE* f = fopen(RootedPath(CAPTURE_FILE).c_str(), "a");
    if (!f)
        return;
    fwrite(data, 1, len, f);
    fclose(f);
}

// Board to module, byte by byte; the module wants CR after every LF.
void board_to_module()
{
    memset(bridge.buffer, 0, sizeof bridge.buffer);
    log_print(LOG_DEBUG, "[%s %d] Debug： trying to read from serial port", LOG_SRC, __LINE__);
    ssize_t n = read(bridge.board_fd, bridge.buffer, TRANSFER_SIZE);
    if (n <= 0)
        return;
    log_print(LOG_DEBUG, "[%s %d] Debug： serial port read byte %d, content:%s", LOG_SRC, __LINE__,
              static_cast<int>(n), bridge.buffer);
    for (ssize_t i = 0; i < n; ++i) {
        char byte = bridge.buffer[i];
        (void)!write(bridge.module_fd, &byte, 1);
        log_print(LOG_DEBUG, "[%s %d] Debug： send byte %02x", LOG_SRC, __LINE__, static_cast<int>(byte));
        if (byte == '\n')
            (void)!write(bridge.module_fd, "\r", 1);
    }
    append_capture(bridge.buffer, static_cast<size_t>(n));
}

// Module to board, unchanged, after waiting up to a second for the module.
void module_to_board()
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(bridge.module_fd, &readable);
    timeval timeout = {1, 0};
    int ready = select(bridge.module_fd + 1, &readable, nullptr, nullptr, &timeout);
    memset(bridge.buffer, 0, sizeof bridge.buffer);
    if (ready == 0)
        return;
    ssize_t n = read(bridge.module_fd, bridge.buffer, TRANSFER_SIZE);
    if (n <= 0)
        return;
    log_print(LOG_DEBUG, "[%s %d] Debug： radio module port read byte %d", LOG_SRC, __LINE__, static_cast<int>(n));
    (void)!write(bridge.board_fd, bridge.buffer, static_cast<size_t>(n));
}

void open_board_port(bool default_path)
{
    const char* path = bridge.board_path;
    RootedPath rooted(bridge.board_path);
    if (default_path)
        path = rooted.c_str();
    bridge.board_fd = open(path, O_RDWR);
    if (bridge.board_fd < 0) {
        log_print(LOG_ERROR, "[%s %d] Error： serialport error", LOG_SRC, __LINE__);
    } else {
        const char* name = ttyname(bridge.board_fd);
        log_print(LOG_DEBUG, "[%s %d] Debug： open %s succesfully", LOG_SRC, __LINE__, name ? name : path);
    }
    if (fcntl(bridge.board_fd, F_SETFL, 0) < 0)
        log_print(LOG_ERROR, "[%s %d] Error： fcntl error", LOG_SRC, __LINE__);
    if (!isatty(STDIN_FILENO))
        log_print(LOG_WARNING, "[%s %d] Warning： Standard input is not a terminal device.", LOG_SRC, __LINE__);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        log_print(LOG_ERROR, "[%s %d] Error： dastral parameter error ", LOG_SRC, __LINE__);
        return -1;
    }
    const char* module_path = argv[1];
    snprintf(bridge.board_path, sizeof bridge.board_path, "%s", argc == 4 ? argv[3] : DEFAULT_BOARD_PORT);
    write_pid_file(argv[2]);

    memset(&bridge.config, 0, sizeof bridge.config);
    load_bridge_config(&bridge.config);
    const BridgeConfig& config = bridge.config;
    log_print(LOG_DEBUG, "[%s %d] Debug： debug level=%d, output=%d", LOG_SRC, __LINE__, config.debug, config.output);
    log_set_level(config.debug);
    log_set_output(config.output);

    open_board_port(argc != 4);
    if (setup_port(bridge.board_fd, config.baudrate, config.databits, config.parity, config.stopbits, 1) < 0) {
        log_print(LOG_ERROR, "[%s %d] Error： Set serial port Error", LOG_SRC, __LINE__);
        if (bridge.board_fd >= 0)
            close(bridge.board_fd);
        return 0;
    }
    bridge.module_fd = open_module_port(module_path);
    if (bridge.module_fd == -1) {
        close(bridge.board_fd);
        log_print(LOG_ERROR, "[%s %d] Error： finished", LOG_SRC, __LINE__);
        return 0;
    }
    log_print(LOG_DEBUG, "[%s %d] Debug： start module serial loop", LOG_SRC, __LINE__);

    for (;;) {
        board_to_module();
        module_to_board();
        usleep(CYCLE_PAUSE_US);
    }
}
