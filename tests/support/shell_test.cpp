#include <gtest/gtest.h>

#include <sys/stat.h>

#include "scratch_root.h"
#include "shell.h"

namespace {

using ShellTest = ScratchRootTest;

TEST_F(ShellTest, AbsoluteCommandsRunInsideTheRouterRoot)
{
    mkdir((root_ + "/etc").c_str(), 0755);
    mkdir((root_ + "/etc/system").c_str(), 0755);
    script("/etc/system/ostrel.sh", "echo \"status $1\"\n");
    script("/etc/system/quiet.sh", "echo \"$1\" > \"$ROUTER_ROOT/ran\"\n");
    char buf[32] = {};
    EXPECT_EQ(run_cmd_line("/etc/system/ostrel.sh 2", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "status 2");
    EXPECT_EQ(run_cmd("/etc/system/quiet.sh 1"), 0);
    EXPECT_EQ(slurp(root_ + "/ran"), "1\n");
    EXPECT_NE(run_cmd("exit 3"), 0);
}

} // namespace
