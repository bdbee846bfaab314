// Serial line set-up: open the node, then raw mode with speed, size, parity and stop bits.
#pragma once

#include <termios.h>

struct SpeedEntry {
    int speed;
    speed_t code;
};

// Accepted line speeds, searched in this order.
constexpr SpeedEntry speed_table[] = {
    {115200, B115200}, {57600, B57600}, {38400, B38400}, {19200, B19200}, {9600, B9600},
    {4800, B4800},     {2400, B2400},   {1200, B1200},   {300, B300},
};

// The speeds of speed_table and the parity letters setup_port takes, in the
// words of the init scripts' validation.
constexpr char SPEED_RULE[] = R"(or("115200","57600","38400","19200","9600","4800","2400","1200","300"))";
constexpr char PARITY_RULE[] = R"(or("N","n","O","o","E","e","S","s"))";

int open_port(const char* path);
int setup_port(int fd, int speed, int data_bits, char parity, int stop_bits, int read_timeout);
// Note the order: stop bits before parity.
int configure_port(int fd, int speed, int data_bits, int stop_bits, char parity, int read_timeout);
void set_port_speed(int fd, int speed);

enum { PORT_BAD_SIZE = -1, PORT_BAD_PARITY = -2, PORT_BAD_STOP = -3 };
// The attributes configure_port applies, built without touching a port:
// 0, or the refused parameter (after its text on standard error).
int port_attributes(struct termios* tio, int speed, int data_bits, int stop_bits, char parity, int read_timeout);
