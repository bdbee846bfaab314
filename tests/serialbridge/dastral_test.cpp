// dastral run as a program between two pseudo-terminal pairs.
#include <gtest/gtest.h>

#include <string>

#include "pty_pair.h"
#include "sandbox.h"

namespace {

const char* const BOARD_SETTINGS = "config dastral 'general'\n"
                                   "\toption enabled '1'\n"
                                   "\toption baudrate '115200'\n"
                                   "\toption parity 'N'\n"
                                   "\toption databits '8'\n"
                                   "\toption stopbits '1'\n";

class Dastral : public ::testing::Test {
protected:
    pid_t start(const std::string& extra_options = "")
    {
        sb.uci_package("dastral", BOARD_SETTINGS + extra_options);
        pid_t pid = sb.start(bin_path("dastral"), {module.slave_path, sb.path("/var/run/dastral.pid"), board.slave_path});
        // The PID file comes first, the loop starts right after the module port is set up.
        EXPECT_TRUE(sb.wait_for_text("/dastral.stderr", "setup_port 115200,8,N,1,1", 5000));
        usleep(300000);
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

// Measure: bytes per second through the bridge, each way on its own.
TEST_F(Dastral, ThroughputAtTheFixedCyclePace)
{
    start();
    std::string block(4096, 'G');
    for (size_t i = 63; i < block.size(); i += 64)
        block[i] = '\n';
    long long t0 = now_ms();
    ASSERT_TRUE(module.write_all(block));
    std::string to_board = board.read_master(block.size(), 30000);
    long long module_ms = now_ms() - t0;
    EXPECT_EQ(to_board, block);

    std::string small = block.substr(0, 2048);
    t0 = now_ms();
    ASSERT_TRUE(board.write_all(small));
    std::string to_module = module.read_master(small.size() + 32, 30000);
    long long board_ms = now_ms() - t0;
    EXPECT_EQ(to_module.size(), small.size() + 32);
    printf("dastral throughput: module->board %zu bytes in %lld ms (%.0f B/s); board->module %zu bytes "
           "(+32 CR) in %lld ms (%.0f B/s)\n",
           to_board.size(), module_ms, to_board.size() * 1000.0 / module_ms, small.size(), board_ms,
           small.size() * 1000.0 / board_ms);
}
