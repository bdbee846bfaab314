#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "dio.h"
#include "files.h"
#include "log.h"
#include "own_file.h"
#include "paths.h"
#include "pidfile.h"
#include "scratch_root.h"

namespace {

using FilesTest = ScratchRootTest;
using DioTest = ScratchRootTest;

TEST_F(FilesTest, FilesResolveUnderTheRoot)
{
    EXPECT_EQ(append_text_file("/note", "100% done\n"), 0);
    EXPECT_EQ(append_text_file("/note", "more\n"), 0);
    EXPECT_EQ(slurp(root_ + "/note"), "100% done\nmore\n");
    EXPECT_EQ(write_text_file("/note", "fresh"), 0);
    EXPECT_EQ(slurp(root_ + "/note"), "fresh");
    EXPECT_TRUE(path_exists("/note"));
    EXPECT_EQ(remove_file("/note"), 0);
    EXPECT_FALSE(path_exists("/note"));
    EXPECT_EQ(append_text_file("/missing/dir/file", "x"), -1);
}

// Another program plants links where the daemons (root) write: nothing is
// written through them, and a temporary or replaced file replaces the link.
TEST_F(FilesTest, PlantedLinksAreNeverWrittenThrough)
{
    std::string secret = root_ + "/secret";
    std::ofstream(secret) << "keep";
    log_set_output(LOG_OUT_FILE);
    log_set_level(LOG_DEBUG);
    log_set_file("/x.log"); // before the link: setting the file removes what stands there
    for (const char* at : {"/note", "/pid", "/x.log", "/tmpfile", "/whole"})
        ASSERT_EQ(symlink(secret.c_str(), (root_ + at).c_str()), 0);
    EXPECT_EQ(append_text_file("/note", "leak"), -1);
    EXPECT_EQ(write_text_file("/note", "leak"), -1);
    EXPECT_FALSE(pidfile_write((root_ + "/pid").c_str()));
    log_print(LOG_ERROR, "[%s %d] Error\xef\xbc\x9a leak", "t", 1);
    EXPECT_EQ(slurp(secret), "keep");
    // A FIFO with no reader would block a plain open for ever.
    ASSERT_EQ(mkfifo((root_ + "/fifo").c_str(), 0644), 0);
    EXPECT_EQ(append_text_file("/fifo", "x"), -1);

    FILE* temp = create_temp_own(RootedPath("/tmpfile").c_str());
    ASSERT_NE(temp, nullptr);
    fputs("own", temp);
    fclose(temp);
    EXPECT_EQ(replace_own_file(RootedPath("/whole").c_str(), RootedPath("/whole.tmp").c_str(), "new", 3), 0);
    EXPECT_EQ(slurp(secret), "keep");
    EXPECT_EQ(slurp(root_ + "/tmpfile"), "own");
    EXPECT_EQ(slurp(root_ + "/whole"), "new");
    struct stat st;
    ASSERT_EQ(lstat((root_ + "/whole").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(DioTest, DigitalInputsResolveUnderTheRoot)
{
    system(("mkdir -p " + root_ + "/sys/class/gpio/dio2").c_str());
    std::ofstream(root_ + "/sys/class/gpio/dio2/value") << "1\n";
    EXPECT_EQ(read_dio(2), 1);
    EXPECT_EQ(read_dio(7), 0);
}

} // namespace
