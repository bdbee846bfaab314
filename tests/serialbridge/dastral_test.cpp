// dastral run as a program between two pseudo-terminal pairs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "pty_pair.h"
#include "sandbox.h"

namespace {

const char* const BOARD_SETTINGS = "config dastral 'general'\n"
                                   "\toption enabled '1'\n"
                                   "\toption baudrate '115200'\n"
                                   "\toption parity 'N'\n"
                                   "\toption databits '8'\n"
                                   "\toption stopbits '1'\n";

// Waits until dastral has set a port up: its termios (read through the
// master) shows 115200 baud and the one-tenth-second read time-out. That
// setting is written after the port's input is flushed, so from then on
// nothing the test writes is dropped.
bool wait_port_set_up(const PtyPair& pty, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    do {
        termios tio;
        if (tcgetattr(pty.master, &tio) == 0 && cfgetispeed(&tio) == B115200 && tio.c_cc[VTIME] == 1
            && tio.c_cc[VMIN] == 0)
            return true;
        usleep(20000);
    } while (now_ms() < deadline);
    return false;
}

class Dastral : public ::testing::Test {
protected:
    pid_t start(const std::string& extra_options = "")
    {
        sb.uci_package("dastral", BOARD_SETTINGS + extra_options);
        pid_t pid = sb.start(bin_path("dastral"), {module.slave_path, sb.path("/var/run/dastral.pid"), board.slave_path});
        // The board port is set up first; the loop starts right after the module port.
        EXPECT_TRUE(wait_port_set_up(board, 5000)) << sb.stderr_of("dastral");
        EXPECT_TRUE(wait_port_set_up(module, 5000)) << sb.stderr_of("dastral");
        return pid;
    }

    Sandbox sb;
    PtyPair board;
    PtyPair module;
};

} // namespace

TEST_F(Dastral, BoardLineFeedsGetACarriageReturnTowardsTheModuleAndAreCaptured)
{
    pid_t pid = start();
    const std::string sent = std::string("AT\na\rb\n") + '\0' + "x";
    ASSERT_TRUE(board.write_all(sent));
    const std::string expected = std::string("AT\n\ra\rb\n\r") + '\0' + "x";
    EXPECT_EQ(module.read_master(expected.size(), 5000), expected);
    EXPECT_TRUE(sb.wait_for_text("/tmp/qv.log", "x", 3000));
    EXPECT_EQ(sb.read("/tmp/qv.log"), sent);
    EXPECT_EQ(sb.read("/var/run/dastral.pid"), std::to_string(pid) + "\n");
    // With the debug option absent the logger is silent after start-up.
    EXPECT_FALSE(sb.exists("/tmp/myLog1.log"));
}

TEST_F(Dastral, ModuleBytesReachTheBoardUnchanged)
{
    start("\toption debug '5'\n");
    const std::string reply = "\r\nOK\r\n\n\r";
    ASSERT_TRUE(module.write_all(reply));
    EXPECT_EQ(board.read_master(reply.size() + 1, 1500), reply);
    EXPECT_FALSE(sb.exists("/tmp/qv.log"));
    EXPECT_TRUE(sb.wait_for_text("/tmp/myLog1.log", "Debug： radio module port read byte 8", 3000));
    // The unit name the log lines carry stays what it is when code moves between files.
    EXPECT_TRUE(std::regex_search(sb.read("/tmp/myLog1.log"),
                                  std::regex(R"(\[dastral\.cpp \d+\] Debug： radio module port read byte 8)")))
        << sb.read("/tmp/myLog1.log");
}

TEST_F(Dastral, WrongArgumentCountsEndTheProcessWithMinusOne)
{
    sb.uci_package("dastral", BOARD_SETTINGS);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{module.slave_path},
          std::vector<std::string>{module.slave_path, sb.path("/p"), board.slave_path, "extra"}}) {
        pid_t pid = sb.start(bin_path("dastral"), args);
        EXPECT_EQ(sb.wait_exit(pid, 5000), 255);
    }
    std::string log = sb.read("/tmp/myLog1.log");
    EXPECT_NE(log.find("Error： dastral parameter error \n"), std::string::npos);
    EXPECT_NE(log.find("dastral parameter error", log.find("dastral parameter error") + 1), std::string::npos);
}

TEST_F(Dastral, EmptyParityOptionEndsTheProcess)
{
    sb.uci_package("dastral", "config dastral 'general'\n\toption baudrate '115200'\n"
                              "\toption parity ''\n\toption databits '8'\n\toption stopbits '1'\n"
                              "\toption debug '3'\n");
    pid_t pid = sb.start(bin_path("dastral"), {module.slave_path, sb.path("/var/run/dastral.pid"), board.slave_path});
    EXPECT_EQ(sb.wait_exit(pid, 5000), 0);
    EXPECT_NE(sb.stderr_of("dastral").find("Unsupported parity\n"), std::string::npos);
    EXPECT_TRUE(sb.wait_for_text("/tmp/myLog1.log", "Error： Set serial port Error", 1000));
}

TEST_F(Dastral, ModulePortThatNeverOpensIsRetriedWithOneErrorEach)
{
    sb.uci_package("dastral", std::string(BOARD_SETTINGS) + "\toption debug '3'\n");
    pid_t pid = sb.start(bin_path("dastral"), {sb.path("/dev/no-module"), sb.path("/var/run/dastral.pid"),
                                               board.slave_path});
    ASSERT_TRUE(sb.wait_for_text("/tmp/myLog1.log", "open device " + sb.path("/dev/no-module") + " error", 5000));
    EXPECT_EQ(sb.wait_exit(pid, 100), -1); // still retrying, 3 seconds apart
}

namespace {

// Board-side text of lines, and what the module must get for it (CR after each LF).
std::string board_lines(size_t size, std::string* towards_module)
{
    std::string text(size, 'G');
    for (size_t i = 0; i < size; ++i)
        text[i] = (i % 64 == 63) ? '\n' : static_cast<char>('A' + (i / 64) % 26);
    towards_module->clear();
    for (char c : text) {
        towards_module->push_back(c);
        if (c == '\n')
            towards_module->push_back('\r');
    }
    return text;
}

// Writes all of data to a pty master from a thread of its own, in line-sized steps.
std::thread write_in_background(const PtyPair& pty, const std::string& data)
{
    return std::thread([&pty, &data] {
        for (size_t at = 0; at < data.size();) {
            ssize_t n = ::write(pty.master, data.data() + at, std::min<size_t>(512, data.size() - at));
            if (n <= 0)
                return;
            at += static_cast<size_t>(n);
        }
    });
}

} // namespace

TEST_F(Dastral, BothWaysAtOnceEveryByteArrivesInOrder)
{
    start();
    std::string to_module;
    const std::string from_board = board_lines(96 * 1024, &to_module);
    std::string from_module(80 * 1024, 0);
    for (size_t i = 0; i < from_module.size(); ++i)
        from_module[i] = static_cast<char>(i * 7 % 251); // every byte value but a few, LF included
    std::thread board_writer = write_in_background(board, from_board);
    std::thread module_writer = write_in_background(module, from_module);
    std::string at_board;
    std::string at_module;
    long long deadline = now_ms() + 60000;
    while ((at_board.size() < from_module.size() || at_module.size() < to_module.size()) && now_ms() < deadline) {
        at_module += module.read_master(to_module.size() - at_module.size(), 20);
        at_board += board.read_master(from_module.size() - at_board.size(), 20);
    }
    board_writer.join();
    module_writer.join();
    EXPECT_TRUE(at_module == to_module) << at_module.size() << " of " << to_module.size() << " bytes";
    EXPECT_TRUE(at_board == from_module) << at_board.size() << " of " << from_module.size() << " bytes";
}

TEST_F(Dastral, CaptureFileRotatesAtTheLogSizeIntoOneOlderFile)
{
    sb.write("/tmp/qv.log2", "stale rotation\n");
    start();
    std::string to_module;
    const std::string from_board = board_lines(450 * 1024, &to_module);
    std::thread writer = write_in_background(board, from_board);
    std::string at_module;
    long long deadline = now_ms() + 60000;
    while (at_module.size() < to_module.size() && now_ms() < deadline)
        at_module += module.read_master(to_module.size() - at_module.size(), 200);
    writer.join();
    ASSERT_EQ(at_module.size(), to_module.size());
    // Two rotations: the older file holds the second 200,001 bytes and more, the current one the rest.
    // A block reaches the capture just after the module, so wait for the last one to land.
    std::string older, current;
    deadline = now_ms() + 10000;
    do {
        older = sb.read("/tmp/qv.log2");
        current = sb.read("/tmp/qv.log");
        size_t kept = older.size() + current.size();
        if (kept <= from_board.size() && from_board.compare(from_board.size() - kept, kept, older + current) == 0)
            break;
        usleep(50000);
    } while (now_ms() < deadline);
    EXPECT_GE(older.size(), 200001u);
    EXPECT_LT(current.size(), 200001u);
    ASSERT_LE(older.size() + current.size(), from_board.size());
    size_t dropped = from_board.size() - older.size() - current.size();
    EXPECT_GE(dropped, 200001u); // the first generation, replaced by the second
    EXPECT_TRUE(from_board.substr(dropped) == older + current);
}

TEST_F(Dastral, BoardHangUpNeitherEndsTheBridgeNorSpinsIt)
{
    sb.uci_package("dastral", BOARD_SETTINGS);
    // A session leader without a terminal, as under procd: a tty opened
    // without O_NOCTTY would become its controlling terminal.
    pid_t pid = sb.start("/usr/bin/setsid", {bin_path("dastral"), module.slave_path, sb.path("/var/run/dastral.pid"),
                                              board.slave_path});
    ASSERT_TRUE(sb.wait_for_text("/setsid.stderr", "setup_port 115200,8,N,1,1\nStandard", 5000));
    ASSERT_TRUE(sb.wait_for_text("/var/run/dastral.pid", std::to_string(pid), 5000)); // setsid ran in place
    // Both ports open and set up: a port opened as controlling terminal would show now.
    ASSERT_TRUE(wait_port_set_up(board, 5000));
    ASSERT_TRUE(wait_port_set_up(module, 5000));
    std::string fields = command_output("cut -d')' -f2 /proc/" + std::to_string(pid) + "/stat");
    // Fields after the name: state ppid pgrp session tty_nr.
    int tty_nr = -1;
    char state = 0;
    int ppid = 0, pgrp = 0, session = 0;
    ASSERT_EQ(sscanf(fields.c_str(), " %c %d %d %d %d", &state, &ppid, &pgrp, &session, &tty_nr), 5);
    EXPECT_EQ(session, pid);
    EXPECT_EQ(tty_nr, 0);

    close(board.master);
    board.master = -1;
    long long ticks_before = atoll(command_output("awk '{print $14 + $15}' /proc/" + std::to_string(pid) + "/stat").c_str());
    // Two seconds to show that it neither ends nor spins: nothing to wait for.
    EXPECT_EQ(sb.wait_exit(pid, 2000), -1) << "the bridge ended on the board's hang-up";
    long long ticks_after = atoll(command_output("awk '{print $14 + $15}' /proc/" + std::to_string(pid) + "/stat").c_str());
    EXPECT_LT(ticks_after - ticks_before, 50) << "busy while the board line is hung up";
    // The module direction still reads (and the board writes fail quietly).
    ASSERT_TRUE(module.write_all("OK\r\n"));
    EXPECT_EQ(sb.wait_exit(pid, 500), -1);
}

namespace {

size_t count_of(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

// A USB port re-enumerating: each port vanishes for two seconds and comes back
// under its name. The bridge reopens it and every byte sent afterwards arrives.
TEST_F(Dastral, PortsThatVanishAndComeBackAreReopenedByName)
{
    // Short names: the board port's path holds at most 31 characters.
    ReplugPort board_port(sb.path("/usb0"));
    ReplugPort module_port(sb.path("/usb1"));
    sb.uci_package("dastral", std::string(BOARD_SETTINGS) + "\toption debug '3'\n");
    pid_t pid = sb.start(bin_path("dastral"), {module_port.name(), sb.path("/var/run/dastral.pid"), board_port.name()});
    ASSERT_TRUE(wait_port_set_up(board_port.pty(), 5000));
    ASSERT_TRUE(wait_port_set_up(module_port.pty(), 5000));

    std::string to_module;
    const std::string from_board = board_lines(1005, &to_module);
    const std::string from_module(1005, 'm');
    int outages = 0;
    for (ReplugPort* port : {&board_port, &module_port}) {
        const char* role = port == &board_port ? "board port" : "module port";
        port->vanish();
        ++outages;
        ASSERT_TRUE(sb.wait_for_text("/tmp/myLog1.log", std::string(role) + " " + port->name() + " lost", 3000))
            << sb.read("/tmp/myLog1.log");
        sleep(2); // away for a while, as a re-enumerating adapter is
        ASSERT_TRUE(port->come_back());
        long long back = now_ms();
        ASSERT_TRUE(wait_port_set_up(port->pty(), 5000)) << role << " not reopened";
        long long resumed_ms = now_ms() - back;
        ASSERT_TRUE(board_port.pty().write_all(from_board));
        ASSERT_TRUE(module_port.pty().write_all(from_module));
        size_t at_module = module_port.pty().read_master(to_module.size(), 5000).size();
        size_t at_board = board_port.pty().read_master(from_module.size(), 5000).size();
        printf("[ measure  ] %s back: reopened after %lld ms; delivered after the return: %zu of %zu bytes to the "
               "module, %zu of %zu to the board\n",
               role, resumed_ms, at_module, to_module.size(), at_board, from_module.size());
        EXPECT_LT(resumed_ms, 2000) << role;
        EXPECT_EQ(at_module, to_module.size()) << role;
        EXPECT_EQ(at_board, from_module.size()) << role;
    }
    // One line when a port goes, one when it is back: not one per try.
    std::string log = sb.read("/tmp/myLog1.log");
    EXPECT_EQ(count_of(log, " lost ("), static_cast<size_t>(outages)) << log;
    EXPECT_EQ(count_of(log, " back after "), static_cast<size_t>(outages)) << log;
    EXPECT_EQ(sb.wait_exit(pid, 10), -1);
}

// Other programs share /tmp: a link planted where the capture file was is
// never written through, and the capture resumes once the name is free.
TEST_F(Dastral, CaptureFileReplacedByALinkIsNeverWrittenThrough)
{
    start("\toption debug '3'\n");
    ASSERT_TRUE(board.write_all("first\n"));
    ASSERT_TRUE(sb.wait_for_text("/tmp/qv.log", "first\n", 5000));
    ASSERT_EQ(module.read_master(7, 5000), "first\n\r");
    sb.write("/secret", "keep\n");
    ASSERT_EQ(unlink(sb.path("/tmp/qv.log").c_str()), 0);
    ASSERT_EQ(symlink(sb.path("/secret").c_str(), sb.path("/tmp/qv.log").c_str()), 0);
    sleep(1); // the name is looked at once a second
    ASSERT_TRUE(board.write_all("PASSWORD=hunter2\n"));
    EXPECT_EQ(module.read_master(18, 5000), "PASSWORD=hunter2\n\r"); // the bridge itself goes on
    EXPECT_TRUE(sb.wait_for_text("/tmp/myLog1.log", "Error： capture file /tmp/qv.log not written", 3000));
    EXPECT_EQ(sb.read("/secret"), "keep\n");

    ASSERT_EQ(unlink(sb.path("/tmp/qv.log").c_str()), 0);
    ASSERT_TRUE(board.write_all("second\n"));
    EXPECT_TRUE(sb.wait_for_text("/tmp/qv.log", "second\n", 5000));
    EXPECT_EQ(sb.read("/secret"), "keep\n");
}
