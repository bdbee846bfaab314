// quorral: forwards the NMEA output of a GPS receiver to a TCP or UDP server
// or to the board's serial port.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "TcpClient.h"
#include "UdpClient.h"
#include "gps_config.h"
#include "log.h"
#include "nmea_chunk.h"
#include "paths.h"
#include "pidfile.h"
#include "port_watch.h"
#include "serial.h"
#include "shell.h"
#include "status.h"
#include "text.h"
#include "time64.h"
#include "uci_access.h"
#include "uci_check.h"

constexpr char LOG_UNIT[] = "quorral.cpp";

namespace {

// Serial number text, terminator included.
constexpr int SERIAL_NUMBER_SIZE = 128;
// No data for more than this many intervals asks for a restart.
constexpr int NO_DATA_INTERVALS = 30;
// Pause before asking for a restart when the GPS device cannot be opened.
constexpr unsigned OPEN_FAILURE_PAUSE_S = 5;
// Every network send goes through this client entry.
constexpr int CLIENT_INDEX = 0;

// Everything the process keeps between reads.
struct Forwarder {
    GpsConfig config;
    char serial_number[SERIAL_NUMBER_SIZE];
    char read_buffer[GPS_BUFFER_SIZE + 1];
    char rmc_buffer[GPS_BUFFER_SIZE];
    int gps_fd = -1;
    int serial_out = -1;
    // The names both ports were opened by, to reopen them when they come back.
    PortWatch gps_watch;
    PortWatch serial_out_watch;
    // Start of the current stretch without data; 0 while data flows.
    time_t no_data_since = 0;
    // Chunks the client could not take since the last one it took.
    long dropped_chunks = 0;
    // For the status file: every chunk forwarded and lost, the last data read.
    long sent_total = 0;
    long dropped_total = 0;
    time_t last_data = 0;
};

Forwarder forwarder;

void request_restart() { run_cmd("/etc/init.d/quorral restart"); }

// A port that hung up or vanished is closed and its outage logged once;
// what is read or forwarded meanwhile waits for port_back.
void port_down(PortWatch* watch, int* fd, const char* role, const char* why)
{
    LOG(LOG_ERROR, "Error： %s %s lost (%s), reopening it every second", role, watch->path, why);
    port_lost(watch, fd);
}

// Opens a lost port again by its name, once a second; true once it is back.
bool port_back(PortWatch* watch, int* fd, const char* role, bool (*setup)(int fd))
{
    int reopened = port_reopen(watch, setup);
    if (reopened < 0)
        return false;
    *fd = reopened;
    LOG(LOG_INFO, "Info： %s %s back after %ld s", role, watch->path, port_outage_s(*watch));
    return true;
}

bool setup_serial_out(int fd)
{
    const GpsConfig& c = forwarder.config;
    return setup_port(fd, c.baudrate, c.databits, c.parity, c.stopbits, 1) == 0;
}

bool setup_gps_port(int fd)
{
    setup_port(fd, 115200, 8, 'N', 1, 1);
    return true;
}

// 0 when written; a chunk for a port that is away is dropped.
int serial_out_write(const char* data, int len)
{
    PortWatch& watch = forwarder.serial_out_watch;
    if (forwarder.serial_out == -1 && watch.lost_ms != 0 &&
        !port_back(&watch, &forwarder.serial_out, "serial port", setup_serial_out))
        return -1;
    if (forwarder.serial_out == -1) {
        LOG(LOG_ERROR, "Error： serial is not openned");
        return -1;
    }
    if (write(forwarder.serial_out, data, static_cast<size_t>(len)) < 0) {
        if (const char* why = port_gone(&watch, forwarder.serial_out, errno))
            port_down(&watch, &forwarder.serial_out, "serial port", why);
        return -1;
    }
    LOG(LOG_INFO, "Info： write msg len=%d succeed\n", len);
    return 0;
}

// Opens the board's serial port as the destination; ends the process when it
// cannot be set up.
void open_serial_out(const GpsConfig& config)
{
    RootedPath path("/dev/ttyS0");
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) {
        perror("serialport error\n");
    } else {
        const char* name = ttyname(fd);
        printf("open %s succesfully\n", name ? name : "");
    }
    if (fcntl(fd, F_SETFL, 0) < 0)
        printf("fcntl");
    if (!isatty(STDIN_FILENO))
        printf("Standard input is not a terminal device.\n");
    if (setup_port(fd, config.baudrate, config.databits, config.parity, config.stopbits, 1) < 0) {
        printf("Set serial port Error");
        if (fd >= 0)
            close(fd);
        exit(0);
    }
    forwarder.serial_out = fd;
    port_watch_start(&forwarder.serial_out_watch, path.c_str(), fd);
}

void open_destination(const GpsConfig& config)
{
    bool by_address = check_ipv4(config.serverip) == 0;
    switch (config.proto) {
    case PROTO_TCP:
        if (by_address)
            TcpClientStart(CLIENT_INDEX, config.serverip, config.serverport, nullptr);
        else
            TcpClientStartHost(CLIENT_INDEX, config.serverip, config.serverport, nullptr);
        break;
    case PROTO_UDP:
        if (by_address)
            UdpClientStart(CLIENT_INDEX, config.serverip, config.serverport, nullptr);
        else
            UdpClientStartHost(CLIENT_INDEX, config.serverip, config.serverport, nullptr);
        break;
    case PROTO_SERIAL:
        open_serial_out(config);
        break;
    default:
        LOG(LOG_INFO, "Info： not supported protocol %d", config.proto);
        break;
    }
}

// 0 when the client or the serial port took the data.
int send_one(int proto, const char* data, int len)
{
    switch (proto) {
    case PROTO_TCP:
        return TcpClientSend(CLIENT_INDEX, data, len);
    case PROTO_UDP:
        return UdpClientSend(CLIENT_INDEX, data, len);
    case PROTO_SERIAL:
        return serial_out_write(data, len);
    }
    return 0;
}

// Counts chunks the client could not take and says how many once one goes
// out again, so a gap at the server can be told from a silent GPS.
void count_forwarded(bool sent)
{
    if (!sent) {
        ++forwarder.dropped_chunks;
        ++forwarder.dropped_total;
        return;
    }
    ++forwarder.sent_total;
    if (forwarder.dropped_chunks > 0)
        LOG(LOG_INFO, "Info： forwarding again, %ld chunks dropped before", forwarder.dropped_chunks);
    forwarder.dropped_chunks = 0;
}

// Sends the serial number (when configured) and then the chunk; a chunk the
// client cannot take right now is lost, as the next one is on its way.
void forward_chunk(const char* data, int len)
{
    const GpsConfig& config = forwarder.config;
    if (config.proto != PROTO_TCP && config.proto != PROTO_UDP && config.proto != PROTO_SERIAL) {
        LOG(LOG_ERROR, "Error： not supported protocol %d", config.proto);
        return;
    }
    int failed = 0;
    if (config.sendsn != 0 && len > 0)
        failed |= send_one(config.proto, forwarder.serial_number, static_cast<int>(strlen(forwarder.serial_number)));
    failed |= send_one(config.proto, data, len);
    count_forwarded(failed == 0);
}

void handle_chunk(int len)
{
    int text_len = static_cast<int>(strlen(forwarder.read_buffer));
    if (text_len != len)
        LOG(LOG_ERROR, "Error： quorral error, strlen(buff)=%d. len=%d", text_len, len);
    LOG(LOG_DEBUG, "Debug： gps, len=%d", len);
    if (forwarder.config.onlyrmc == 1) {
        int rmc_len = extract_gprmc(forwarder.read_buffer, static_cast<size_t>(len), forwarder.rmc_buffer,
                                    sizeof forwarder.rmc_buffer);
        forward_chunk(forwarder.rmc_buffer, rmc_len);
    } else {
        forward_chunk(forwarder.read_buffer, len);
    }
}

// True once the stretch without data has lasted longer than allowed.
bool no_data_timed_out()
{
    time_t now = time(nullptr);
    if (forwarder.no_data_since == 0) {
        forwarder.no_data_since = now;
        return false;
    }
    return now - forwarder.no_data_since > static_cast<time_t>(NO_DATA_INTERVALS) * forwarder.config.interval;
}

// The GPS port is lost: closed, and reopened by name once a second until it
// is back. Meanwhile nothing counts as silence of the receiver.
void gps_port_down(const char* why)
{
    port_down(&forwarder.gps_watch, &forwarder.gps_fd, "GPS port", why);
    forwarder.no_data_since = 0;
}

void wait_for_gps_port()
{
    if (port_back(&forwarder.gps_watch, &forwarder.gps_fd, "GPS port", setup_gps_port))
        return;
    usleep(static_cast<useconds_t>(PORT_RETRY_MS) * 1000);
}

// Sleeps the interval, a second at a time, watching the GPS port: a port that
// hangs up or vanishes meanwhile is noticed within a second.
void pause_interval()
{
    for (int left = forwarder.config.interval; left > 0; --left) {
        pollfd line = {forwarder.gps_fd, 0, 0};
        poll(&line, 1, 1000);
        if (const char* why = port_gone(&forwarder.gps_watch, forwarder.gps_fd, 0)) {
            gps_port_down(why);
            return;
        }
    }
}

[[noreturn]] void restart_after_silence()
{
    if (forwarder.config.proto == PROTO_TCP)
        TcpClientClose(CLIENT_INDEX);
    LOG(LOG_ERROR, "Error： quorral failed, restart it");
    request_restart();
    close(forwarder.gps_fd);
    exit(0);
}

void publish_status()
{
    const GpsConfig& c = forwarder.config;
    gps_status_publish({c.proto, c.serverip, c.serverport, CLIENT_INDEX, forwarder.serial_out >= 0,
                        forwarder.last_data, forwarder.sent_total, forwarder.dropped_total});
}

[[noreturn]] void run_loop()
{
    for (;;) {
        publish_status();
        if (forwarder.gps_fd < 0) {
            wait_for_gps_port();
            continue;
        }
        memset(forwarder.read_buffer, 0, sizeof forwarder.read_buffer);
        ssize_t n = read(forwarder.gps_fd, forwarder.read_buffer, GPS_BUFFER_SIZE);
        if (n <= 0) {
            if (const char* why = port_gone(&forwarder.gps_watch, forwarder.gps_fd, n < 0 ? errno : 0)) {
                gps_port_down(why);
                continue;
            }
            if (no_data_timed_out())
                restart_after_silence();
            pause_interval();
            continue;
        }
        handle_chunk(static_cast<int>(n));
        forwarder.last_data = time(nullptr);
        forwarder.no_data_since = 0;
        // A full buffer means more is waiting: read on at once.
        if (n == GPS_BUFFER_SIZE)
            continue;
        pause_interval();
    }
}

} // namespace

int main(int argc, char** argv)
{
    LOG(LOG_INFO, "Info： quorral starting..");
    memset(forwarder.serial_number, 0, sizeof forwarder.serial_number);
    log_set_output(LOG_OUT_FILE);
    log_set_level(LOG_TRACE);
    log_set_file("/tmp/gps.log");
    if (argc < 2) {
        LOG(LOG_ERROR, "Error： quorral parameter error ");
        return -1;
    }
    const char* device = argv[1];
    if (argc > 2 && !pidfile_write(argv[2]))
        LOG(LOG_ERROR, "Error： Cannot create PID file: %s.", argv[2]);

    memset(&forwarder.config, 0, sizeof forwarder.config);
    char refusal[UCI_REFUSAL_SIZE];
    if (uci_package_refused("quorral", refusal, sizeof refusal))
        LOG(LOG_ERROR, "Error： cannot read UCI package %s, its options read as 0: %s", "quorral", refusal);
    // The Error lines name what is refused; running on would only fail later.
    if (load_gps_config(&forwarder.config) > 0) {
        if (argc > 2)
            unlink(argv[2]);
        return EXIT_BAD_OPTION;
    }
    const GpsConfig& config = forwarder.config;

    forwarder.gps_fd = open_port(device);
    if (forwarder.gps_fd == -1) {
        LOG(LOG_ERROR, "Error： device error %s \n", device);
        sleep(OPEN_FAILURE_PAUSE_S);
        request_restart();
        return -2;
    }
    setup_gps_port(forwarder.gps_fd);
    port_watch_start(&forwarder.gps_watch, device, forwarder.gps_fd);

    LOG(LOG_INFO, "Info： connecting...");
    LOG(LOG_INFO, "Info： %d,%s,%d\n", config.proto, config.serverip, config.serverport);
    if (config.sendsn == 1)
        get_data_str("system.version.sn", forwarder.serial_number, SERIAL_NUMBER_SIZE - 1);
    open_destination(config);
    LOG(LOG_INFO, "Info： done");

    run_loop();
}
