#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "scratch_root.h"
#include "status_file.h"

namespace {

using StatusFileTest = ScratchRootTest;

ino_t inode_of(const std::string& path)
{
    struct stat st = {};
    stat(path.c_str(), &st);
    return st.st_ino;
}

// Outside text keeps to its line; the same text is not written twice (a
// rename makes a new inode), a changed one is, and a failed write is retried.
TEST_F(StatusFileTest, WritesWholeLinesOnlyWhenTheTextChanged)
{
    static StatusFile status("/var/run/x.status");
    ASSERT_TRUE(status_begin(status));
    status_add(status, "host", "%s", "a\nb=<i>\x7f");
    status_add(status, "sent", "%d", 3);
    EXPECT_EQ(status_publish(status), -1); // no /var/run yet
    mkdir((root_ + "/var").c_str(), 0755);
    mkdir((root_ + "/var/run").c_str(), 0755);
    EXPECT_EQ(status_publish(status), 0);
    std::string file = root_ + "/var/run/x.status";
    std::string pid = "pid=" + std::to_string(getpid()) + "\n";
    EXPECT_EQ(slurp(file), pid + "host=a\\x0Ab=<i>\\x7F\nsent=3\n");
    ino_t first = inode_of(file);

    status.next_look_ms = 0; // a second later
    ASSERT_TRUE(status_begin(status));
    status_add(status, "host", "%s", "a\nb=<i>\x7f");
    status_add(status, "sent", "%d", 3);
    EXPECT_EQ(status_publish(status), 0);
    EXPECT_EQ(inode_of(file), first);

    status.next_look_ms = 0;
    ASSERT_TRUE(status_begin(status));
    status_add(status, "sent", "%d", 4);
    EXPECT_EQ(status_publish(status), 0);
    EXPECT_EQ(slurp(file), pid + "sent=4\n");
}

TEST_F(StatusFileTest, LooksOnceASecondAndDropsLinesThatDoNotFit)
{
    static StatusFile status("/x.status");
    EXPECT_TRUE(status_begin(status));
    EXPECT_FALSE(status_begin(status));
    status.next_look_ms = 0;
    ASSERT_TRUE(status_begin(status));
    std::string long_value(900, 'v');
    for (int i = 0; i < 10; ++i)
        status_add(status, "line", "%d %s", i, long_value.c_str());
    ASSERT_EQ(status_publish(status), 0);
    std::string text = slurp(root_ + "/x.status");
    EXPECT_LT(text.size(), static_cast<size_t>(STATUS_TEXT_SIZE));
    EXPECT_EQ(text.back(), '\n');
    // The pid line, then whole lines of "line=N " + value + "\n" only.
    std::string pid = "pid=" + std::to_string(getpid()) + "\n";
    ASSERT_EQ(text.compare(0, pid.size(), pid), 0);
    EXPECT_EQ((text.size() - pid.size()) % (long_value.size() + 8), 0u);
}

} // namespace
