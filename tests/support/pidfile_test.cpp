#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "pidfile.h"
#include "scratch_root.h"

namespace {

TEST(PidFile, WritesOwnIdAndRefusesWhileItsOwnerLives)
{
    std::string path = "/tmp/pidtest." + std::to_string(getpid());
    pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    std::ofstream(path) << child << "\n";
    EXPECT_EQ(pidfile_claim(path.c_str()), PidClaim::AlreadyRunning);
    EXPECT_EQ(slurp(path), std::to_string(child) + "\n");

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    // The owner is gone: the file is stale and is replaced.
    EXPECT_EQ(pidfile_claim(path.c_str()), PidClaim::Created);
    EXPECT_EQ(slurp(path), std::to_string(getpid()) + "\n");
    unlink(path.c_str());
}

TEST(PidFile, GarbageOrEmptyFileIsStale)
{
    std::string path = "/tmp/pidtest.g" + std::to_string(getpid());
    for (const char* content : {"", "garbage\n", "-5\n", "0\n"}) {
        std::ofstream(path) << content;
        EXPECT_EQ(pidfile_claim(path.c_str()), PidClaim::Created) << content;
    }
    unlink(path.c_str());
    EXPECT_EQ(pidfile_claim("/nonexistent/dir/x.pid"), PidClaim::CreateFailed);
}

} // namespace
