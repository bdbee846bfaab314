#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "registry.h"
#include "sandbox.h"

namespace {

constexpr const char* REGISTRY = "/tmp/keepalive_running";

class Registry : public ::testing::Test {
protected:
    void SetUp() override { setenv("ROUTER_ROOT", sb.root().c_str(), 1); }
    void TearDown() override { unsetenv("ROUTER_ROOT"); }
    Sandbox sb;
};

TEST_F(Registry, OwnLineGoesOthersStay)
{
    sb.write(REGISTRY, "120 eth0\n121 eth1\n");
    registry_remove_line("eth1", 121);
    EXPECT_EQ(sb.read(REGISTRY), "120 eth0\n");
    EXPECT_FALSE(sb.exists("/tmp/keepalive_running_tmp"));
}

TEST_F(Registry, RegistryWithOnlyOwnLineIsRemoved)
{
    sb.write(REGISTRY, "121 eth1\n");
    registry_remove_line("eth1", 121);
    EXPECT_FALSE(sb.exists(REGISTRY));
}

TEST_F(Registry, MissingRegistryIsLeftEmpty)
{
    registry_remove_line("eth1", 121);
    EXPECT_TRUE(sb.exists(REGISTRY));
    EXPECT_EQ(sb.read(REGISTRY), "");
}

TEST_F(Registry, OnlyFirstLineMatchingPidOrDeviceGoes)
{
    sb.write(REGISTRY, "7 eth0\n300 eth1\n121 eth2\n400 eth1\n");
    registry_remove_line("eth1", 121);
    EXPECT_EQ(sb.read(REGISTRY), "7 eth0\n121 eth2\n400 eth1\n");
    registry_remove_line("nomatch", 121);
    EXPECT_EQ(sb.read(REGISTRY), "7 eth0\n400 eth1\n");
}

TEST_F(Registry, NoMatchLeavesFileUntouched)
{
    sb.write(REGISTRY, "0x10 eth0\n   8\teth3   \n");
    registry_remove_line("eth9", 121);
    EXPECT_EQ(sb.read(REGISTRY), "0x10 eth0\n   8\teth3   \n");
}

TEST_F(Registry, MalformedLinesAreKeptAndDoNotHideLaterLines)
{
    // A line that is not "<id> <name>" is nobody's: it stays, and the lines after it are still read.
    sb.write(REGISTRY, "garbage\n5 eth0\n\n121 eth1\n9 eth9\n");
    registry_remove_line("eth1", 121);
    EXPECT_EQ(sb.read(REGISTRY), "garbage\n5 eth0\n\n9 eth9\n");
}

TEST_F(Registry, OtherLinesAreCopiedAsWritten)
{
    std::string name(400, 'n');
    sb.write(REGISTRY, "5 " + name + "\n0x10  eth0\n6 eth1\n8 eth8");
    registry_remove_line("eth1", 121);
    EXPECT_EQ(sb.read(REGISTRY), "5 " + name + "\n0x10  eth0\n8 eth8\n");
}

} // namespace

namespace {

// Other programs share /tmp and the watchdog runs as root.
TEST_F(Registry, LinksPlantedAtEitherNameAreNeverFollowed)
{
    sb.write("/etc/shadow", "root:secret\n");
    sb.write(REGISTRY, "120 eth0\n121 eth1\n");
    ASSERT_EQ(symlink(sb.path("/etc/shadow").c_str(), sb.path("/tmp/keepalive_running_tmp").c_str()), 0);
    registry_remove_line("eth1", 121);
    EXPECT_EQ(sb.read(REGISTRY), "120 eth0\n");
    EXPECT_EQ(sb.read("/etc/shadow"), "root:secret\n");

    ASSERT_EQ(unlink(sb.path(REGISTRY).c_str()), 0);
    ASSERT_EQ(symlink(sb.path("/etc/shadow").c_str(), sb.path(REGISTRY).c_str()), 0);
    registry_remove_line("root:secret", 120);
    EXPECT_EQ(sb.read("/etc/shadow"), "root:secret\n");
    // A FIFO there must not block the exit either.
    ASSERT_EQ(unlink(sb.path(REGISTRY).c_str()), 0);
    ASSERT_EQ(mkfifo(sb.path(REGISTRY).c_str(), 0644), 0);
    registry_remove_line("eth1", 121);
}

} // namespace
