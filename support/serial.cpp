#include "serial.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const SpeedEntry* find_speed(int speed)
{
    for (const SpeedEntry& entry : speed_table)
        if (entry.speed == speed)
            return &entry;
    return nullptr;
}

} // namespace

int open_port(const char* path)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        fputs("Unable to open the port\n", stderr);
        return -1;
    }
    // Opened non-blocking only to skip the carrier wait; later I/O blocks.
    if (fcntl(fd, F_SETFL, 0) < 0)
        fputs("fcntl", stderr);
    if (!isatty(STDIN_FILENO))
        fputs("Standard input is not a terminal device.\n", stderr);
    fputs("Open the port success\n", stderr);
    return fd;
}

int setup_port(int fd, int speed, int data_bits, char parity, int stop_bits, int read_timeout)
{
    fprintf(stderr, "setup_port %d,%d,%c,%d,%d\n", speed, data_bits, parity, stop_bits, read_timeout);
    if (configure_port(fd, speed, data_bits, stop_bits, parity, read_timeout) != 0) {
        fputs("Set Parity Error\n", stderr);
        return -1;
    }
    return 0;
}

int port_attributes(struct termios* tio, int speed, int data_bits, int stop_bits, char parity, int read_timeout)
{
    memset(tio, 0, sizeof *tio);
    tio->c_cflag = CLOCAL | CREAD;

    if (data_bits == 7) {
        tio->c_cflag |= CS7;
    } else if (data_bits == 8) {
        tio->c_cflag |= CS8;
    } else {
        fputs("Unsupported data size\n", stderr);
        return PORT_BAD_SIZE;
    }

    switch (parity) {
    case 'n':
    case 'N':
        tio->c_cflag &= ~PARENB;
        break;
    case 'o':
    case 'O':
        tio->c_cflag |= PARENB | PARODD;
        tio->c_iflag |= INPCK;
        break;
    case 'e':
    case 'E':
        tio->c_cflag |= PARENB;
        tio->c_cflag &= ~PARODD;
        tio->c_iflag |= INPCK;
        break;
    case 's':
    case 'S':
        tio->c_cflag &= ~(PARENB | CSTOPB);
        break;
    default:
        fputs("Unsupported parity\n", stderr);
        return PORT_BAD_PARITY;
    }

    // An unknown speed is no error: the cleared record leaves B0.
    if (const SpeedEntry* entry = find_speed(speed)) {
        cfsetispeed(tio, entry->code);
        cfsetospeed(tio, entry->code);
    }

    if (stop_bits == 1) {
        tio->c_cflag &= ~CSTOPB;
    } else if (stop_bits == 2) {
        tio->c_cflag |= CSTOPB;
    } else {
        fputs("Unsupported stop bits\n", stderr);
        return PORT_BAD_STOP;
    }

    if (parity != 'n')
        tio->c_iflag |= INPCK;
    tio->c_cc[VTIME] = read_timeout > 0 ? 1 : 0;
    tio->c_cc[VMIN] = 0;
    return 0;
}

int configure_port(int fd, int speed, int data_bits, int stop_bits, char parity, int read_timeout)
{
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        fputs("SetupSerial 1", stderr);
        return -1;
    }
    int rc = port_attributes(&tio, speed, data_bits, stop_bits, parity, read_timeout);
    if (rc == PORT_BAD_SIZE || rc == PORT_BAD_PARITY)
        return -1;
    // Pending bytes are dropped once the speed is known, even if the stop bits are then refused.
    if (find_speed(speed))
        tcflush(fd, TCIOFLUSH);
    if (rc != 0)
        return -1;
    tcflush(fd, TCIFLUSH);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        fputs("SetupSerial 3", stderr);
        return -1;
    }
    return 0;
}

void set_port_speed(int fd, int speed)
{
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return;
    const SpeedEntry* entry = find_speed(speed);
    if (!entry)
        return;
    tcflush(fd, TCIOFLUSH);
    cfsetispeed(&tio, entry->code);
    cfsetospeed(&tio, entry->code);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        fputs("tcsetattr fd1", stderr);
        return;
    }
    tcflush(fd, TCIOFLUSH);
}
