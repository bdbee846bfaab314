#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "serial.h"
#include "unique_fd.h"

namespace {

// A pseudo-terminal pair; the slave stands in for the serial device.
struct Pty {
    Pty()
    {
        int m = -1, s = -1;
        char name[64];
        EXPECT_EQ(openpty(&m, &s, name, nullptr, nullptr), 0);
        master.reset(m);
        slave.reset(s);
        path = name;
    }
    termios attrs() const
    {
        termios t{};
        tcgetattr(slave.get(), &t);
        return t;
    }
    UniqueFd master, slave;
    std::string path;
};

TEST(SerialSetup, ModemSettingsGiveRaw115200EightNoneOne)
{
    Pty pty;
    testing::internal::CaptureStderr();
    ASSERT_EQ(setup_port(pty.slave.get(), 115200, 8, 'N', 1, 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "setup_port 115200,8,N,1,1\n");
    termios t = pty.attrs();
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 1);
}

// A pseudo-terminal keeps CS8 and no parity whatever is asked, so the
// character size and parity are checked on the attributes as built.
TEST(SerialSetup, ParityLettersAndCharacterSize)
{
    termios t;
    testing::internal::CaptureStderr();
    ASSERT_EQ(port_attributes(&t, 9600, 7, 2, 'o', 0), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_TRUE(t.c_cflag & PARENB);
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);

    ASSERT_EQ(port_attributes(&t, 4800, 8, 1, 'E', 1), 0);
    EXPECT_TRUE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & PARODD);

    // Space parity clears CSTOPB, but the stop-bit step comes after it.
    ASSERT_EQ(port_attributes(&t, 4800, 8, 2, 's', 1), 0);
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_iflag & INPCK);

    ASSERT_EQ(port_attributes(&t, 4800, 8, 1, 'n', 1), 0);
    EXPECT_FALSE(t.c_iflag & INPCK);
    ASSERT_EQ(port_attributes(&t, 4800, 8, 1, 'N', 1), 0);
    EXPECT_TRUE(t.c_iflag & INPCK);
    testing::internal::GetCapturedStderr();
}

TEST(SerialSetup, StopBitsAndTimeoutReadBackFromThePort)
{
    Pty pty;
    testing::internal::CaptureStderr();
    ASSERT_EQ(setup_port(pty.slave.get(), 9600, 7, 'o', 2, 0), 0);
    testing::internal::GetCapturedStderr();
    termios t = pty.attrs();
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
}

TEST(SerialSetup, RefusalsLeaveThePortAsItWas)
{
    Pty pty;
    testing::internal::CaptureStderr();
    ASSERT_EQ(setup_port(pty.slave.get(), 57600, 8, 'N', 1, 1), 0);
    testing::internal::GetCapturedStderr();
    struct Case {
        int bits;
        char parity;
        int stop;
        const char* text;
    };
    for (Case c : {Case{5, 'N', 1, "Unsupported data size\n"}, Case{6, 'N', 1, "Unsupported data size\n"},
                   Case{8, 'x', 1, "Unsupported parity\n"}, Case{8, 'N', 3, "Unsupported stop bits\n"}}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(setup_port(pty.slave.get(), 9600, c.bits, c.parity, c.stop, 1), -1);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(std::string(c.text) + "Set Parity Error\n"), std::string::npos) << err;
        termios now = pty.attrs();
        EXPECT_EQ(cfgetospeed(&now), B57600);
    }
}

TEST(SerialSetup, UnknownSpeedIsAcceptedAsZero)
{
    Pty pty;
    testing::internal::CaptureStderr();
    EXPECT_EQ(setup_port(pty.slave.get(), 600, 8, 'N', 1, 1), 0);
    testing::internal::GetCapturedStderr();
    termios t = pty.attrs();
    EXPECT_EQ(cfgetospeed(&t), B0);
}

TEST(SerialSetup, SetPortSpeedChangesOnlyTheSpeed)
{
    Pty pty;
    testing::internal::CaptureStderr();
    setup_port(pty.slave.get(), 115200, 8, 'E', 2, 1);
    set_port_speed(pty.slave.get(), 19200);
    set_port_speed(pty.slave.get(), 12345);
    testing::internal::GetCapturedStderr();
    termios t = pty.attrs();
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_iflag & INPCK);
}

TEST(SerialSetup, OpenPortGivesBlockingDescriptorOrMinusOne)
{
    Pty pty;
    testing::internal::CaptureStderr();
    UniqueFd fd(open_port(pty.path.c_str()));
    EXPECT_EQ(open_port("/nonexistent/tty"), -1);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(fd.valid());
    EXPECT_EQ(fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(err.find("Open the port success\n"), std::string::npos);
    EXPECT_NE(err.find("Unable to open the port\n"), std::string::npos);
}

} // namespace
